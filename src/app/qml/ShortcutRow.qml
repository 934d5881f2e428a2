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
        Caption {
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
            Accessible.name: chip.unavailableText
            Accessible.ignored: !visible
            SymbolIcon { symbol: "exclamationmark.triangle.fill"; size: 10; color: Theme.orange }
            Text {
                text: chip.unavailableText
                font.pixelSize: 10
                font.weight: Font.Medium
                color: Theme.primary
            }
        }
    }
    ChordChip {
        id: chip
        objectName: "chordChip"
        radius: 6
        keys: row.modelData.keys
        unavailable: row.unavailable
        // the line under the caption says it
        showsWarning: false
        font.family: Theme.monospace
        font.pixelSize: 13
        font.weight: Font.DemiBold
    }
}
