import QtQuick
import QtQuick.Controls

// A borderless button around its content; users give its implicit size and,
// through `text`, the name it has on the accessibility bus. Reached with Tab,
// pressed with Space or Enter, and ringed while it has the keyboard focus.
AbstractButton {
    id: button
    default property alias content: holder.data

    padding: 0
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    // a hidden control is not there for a screen reader either
    Accessible.ignored: !visible
    // A screen reader's Press, which the button's role lists already (a
    // handler of Accessible.pressAction would list it again). A disabled
    // control takes no action (ControlAccessibility).
    function accessiblePressAction() { clicked() }
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    contentItem: Item {
        id: holder
    }
    background: FocusRing { shown: button.visualFocus }
    HoverHandler { cursorShape: Qt.PointingHandCursor }
}
