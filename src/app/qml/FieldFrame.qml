import QtQuick

// The rounded frame of every input control of the module: a faint outline
// that turns to the accent colour while the control has the keyboard focus.
Rectangle {
    property bool focused: false
    property color fill: "transparent"

    implicitHeight: 24
    radius: 6
    color: fill
    border.width: focused ? 2 : 1
    border.color: focused ? Theme.alpha(Theme.accent, 0.8) : Theme.alpha(Theme.secondary, 0.25)
}
