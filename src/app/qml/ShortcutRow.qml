import QtQuick
import QtQuick.Layouts

// One global shortcut: what it does, and its keys on a chip, struck
// through when another program holds them.
RowLayout {
    id: row
    required property var modelData
    property bool unavailable: false

    Layout.fillWidth: true
    spacing: 8
    ColumnLayout {
        Layout.fillWidth: true
        spacing: 1
        SymbolLabel { symbol: row.modelData.symbol; text: row.modelData.title }
        Text {
            Layout.fillWidth: true
            text: row.modelData.caption
            wrapMode: Text.Wrap
            font.pixelSize: 10
            color: Theme.secondary
        }
        RowLayout {
            objectName: "chordUnavailable"
            visible: row.unavailable
            spacing: 4
            Accessible.role: Accessible.StaticText
            Accessible.name: unavailable.text
            SymbolIcon { symbol: "exclamationmark.triangle.fill"; size: 10; color: Theme.orange }
            Text {
                id: unavailable
                text: "Unavailable: another program uses it"
                font.pixelSize: 10
                font.weight: Font.Medium
                color: Theme.primary
            }
        }
    }
    Rectangle {
        radius: 6
        color: Theme.alpha(Theme.secondary, 0.1)
        implicitWidth: keys.implicitWidth + 20
        implicitHeight: keys.implicitHeight + 10
        Text {
            id: keys
            anchors.centerIn: parent
            text: row.modelData.keys
            font.family: Theme.monospace
            font.pixelSize: 13
            font.weight: Font.DemiBold
            font.strikeout: row.unavailable
            color: row.unavailable ? Theme.secondary : Theme.primary
        }
    }
}
