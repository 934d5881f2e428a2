import QtQuick

// The ring around a borderless control that has the keyboard focus.
Rectangle {
    property bool shown: false

    visible: shown
    anchors.fill: parent
    anchors.margins: -2
    radius: 6
    color: "transparent"
    border.width: 2
    border.color: Theme.alpha(Theme.accent, 0.8)
}
