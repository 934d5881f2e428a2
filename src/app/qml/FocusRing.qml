import QtQuick

// The ring of a control that has the keyboard focus: drawn outside the
// control with a gap, so it shows on an accent fill as on the window.
Rectangle {
    property bool shown: false
    property real gap: 1

    visible: shown
    anchors.fill: parent
    anchors.margins: -(border.width + gap)
    radius: (parent && parent.radius !== undefined ? parent.radius : 4) + border.width + gap
    color: "transparent"
    border.width: 2
    border.color: Theme.accent
}
