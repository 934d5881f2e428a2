import QtQuick
import QtQuick.Layouts

// One model of the Models card: name and description, then "Installed" or a
// Download button (nothing for a model the catalogue does not know).
RowLayout {
    id: row
    required property var modelData
    property bool downloadEnabled: true
    // how the button had the focus, for whatever takes it on
    signal downloadClicked(int focusReason)

    objectName: "modelRow_" + modelData.modelId
    Layout.fillWidth: true
    spacing: 8
    ColumnLayout {
        Layout.fillWidth: true
        spacing: 1
        RowLayout {
            spacing: 6
            Caption {
                text: row.modelData.name
                font.pixelSize: 13
                font.weight: Font.Medium
                color: Theme.primary
            }
            SymbolIcon {
                visible: row.modelData.installed
                symbol: "checkmark.circle.fill"
                size: 10
                color: Theme.green
            }
        }
        Caption {
            Layout.fillWidth: true
            text: row.modelData.description
            // whole, on a second line where the window is narrow
            wrapMode: Text.Wrap
            font.pixelSize: 10
            color: Theme.secondary
        }
    }
    Caption {
        objectName: "installedMark"
        visible: row.modelData.installed
        text: "Installed"
        font.pixelSize: 10
        font.weight: Font.Medium
        color: Theme.green
    }
    ActionButton {
        objectName: "downloadButton"
        visible: !row.modelData.installed && row.modelData.inCatalogue
        enabled: row.downloadEnabled
        text: "Download"
        Accessible.name: text + " " + row.modelData.name
        onClicked: row.downloadClicked(focusReason)
    }
}
