import QtQuick

// A thin progress bar in the accent colour; value from 0 to 1.
Rectangle {
    id: track
    property real value: 0

    implicitWidth: 80
    implicitHeight: 6
    radius: 3
    color: Theme.alpha(Theme.secondary, 0.15)
    Accessible.role: Accessible.ProgressBar
    Accessible.name: Math.round(Math.max(0, Math.min(1, value)) * 100) + "%"
    Accessible.ignored: !visible
    Rectangle {
        width: track.width * Math.max(0, Math.min(1, track.value))
        height: track.height
        radius: track.radius
        color: Theme.accent
    }
}
