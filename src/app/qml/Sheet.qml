import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A dialog over the window's content, dimming it; Escape or a press outside
// closes it without acting. It opens in its first field, the window behind
// it is inert while it is up, and the focus goes back to where it was when
// it closes, or to what closeFocusing() names.
Dialog {
    id: sheet
    default property alias content: column.data
    property Item firstField
    property Item focusAfter

    // Closes the sheet; then item, if any, has the focus (the row an action made).
    function closeFocusing(item) {
        if (item)
            focusAfter = item
        close()
    }
    // Every item of the window but the sheet's overlay.
    function setBehindEnabled(enabled) {
        const window = Overlay.overlay.parent.children
        for (let i = 0; i < window.length; ++i) {
            if (window[i] !== Overlay.overlay)
                window[i].enabled = enabled
        }
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    padding: 20
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    // the title names the dialog on the accessibility bus; the column shows it
    header: null
    footer: null
    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.25) }
    onAboutToShow: {
        focusAfter = column.Window.activeFocusItem
        setBehindEnabled(false)
    }
    onOpened: if (firstField) firstField.forceActiveFocus()
    onClosed: {
        setBehindEnabled(true)
        // ringed and brought into view, as the keyboard focus is
        if (focusAfter)
            focusAfter.forceActiveFocus(Qt.TabFocusReason)
        focusAfter = null
    }
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
