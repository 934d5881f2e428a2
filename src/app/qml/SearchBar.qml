import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A search field on a tinted rounded bar, led by a magnifier.
Rectangle {
    id: bar
    property alias placeholderText: field.placeholderText
    property alias text: field.text
    default property alias trailing: row.data
    signal edited(string text)

    function focusField(reason) { field.forceActiveFocus(reason) }

    radius: 8
    color: Theme.alpha(Theme.secondary, 0.08)
    border.width: field.activeFocus ? 2 : 0
    border.color: Theme.alpha(Theme.accent, 0.8)
    implicitHeight: row.implicitHeight + 16
    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: 8
        spacing: 8
        SymbolIcon { symbol: "magnifyingglass"; size: 12; color: Theme.tertiary }
        TextField {
            id: field
            objectName: "searchField"
            Layout.fillWidth: true
            padding: 0
            background: null
            placeholderTextColor: Theme.tertiary
            Accessible.name: placeholderText
            // a hidden control is not there for a screen reader either
            Accessible.ignored: !visible
            color: Theme.primary
            font.pixelSize: 13
            onTextEdited: bar.edited(text)
        }
    }
}
