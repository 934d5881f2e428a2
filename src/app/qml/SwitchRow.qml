import QtQuick
import QtQuick.Layouts

// A settings row: the label with its icon (and any badge after it), an
// optional caption, and a switch at the trailing edge.
RowLayout {
    id: row
    property string symbol
    property string title
    property string caption
    property alias value: toggle.value
    property alias switchName: toggle.objectName
    default property alias badges: titleRow.data
    signal changedByUser(bool value)

    Layout.fillWidth: true
    spacing: 8
    ColumnLayout {
        Layout.fillWidth: true
        spacing: 1
        RowLayout {
            id: titleRow
            spacing: 4
            SymbolLabel { symbol: row.symbol; text: row.title }
        }
        Caption {
            Layout.fillWidth: true
            visible: row.caption.length > 0
            text: row.caption
            wrapMode: Text.Wrap
            font.pixelSize: 10
            color: Theme.secondary
        }
    }
    Item { Layout.fillWidth: true }
    ToggleSwitch {
        id: toggle
        text: row.title
        Layout.alignment: Qt.AlignVCenter
        onChangedByUser: value => row.changedByUser(value)
    }
}
