import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A dialog over the window's content, dimming it; Escape or a press outside
// closes it without acting.
Popup {
    id: sheet
    property string title
    default property alias content: column.data

    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    padding: 20
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    Accessible.name: title
    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.25) }
    background: Rectangle {
        radius: 12
        color: Theme.window
        border.width: 1
        border.color: Theme.alpha(Theme.primary, 0.12)
    }
    contentItem: ColumnLayout {
        id: column
        spacing: 16
        Text {
            Layout.alignment: Qt.AlignHCenter
            text: sheet.title
            font.pixelSize: 15
            font.bold: true
            color: Theme.primary
        }
    }
}
