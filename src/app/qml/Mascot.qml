import QtQuick

// The overlay's little character: a microphone while listening, a turning
// gear while refining, sparkles when done.
Item {
    id: mascot
    property string mascotState: "listening"
    property real audioLevel: 0
    property real bounceScale: 1
    property real turn: 0

    readonly property color tint: mascotState === "listening" ? Theme.red
                                 : mascotState === "processing" ? Theme.blue : Theme.green
    implicitWidth: 32
    implicitHeight: 32

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: Theme.alpha(mascot.tint, 0.15)
    }
    Text {
        objectName: "mascotEmoji"
        anchors.centerIn: parent
        font.family: Theme.emoji
        font.pixelSize: mascot.mascotState === "processing" ? 20 : 18
        text: mascot.mascotState === "listening" ? "\u{1F3A4}"
            : mascot.mascotState === "processing" ? "\u2699\uFE0F" : "\u2728"
        rotation: mascot.mascotState === "processing" ? mascot.turn : 0
        scale: (mascot.mascotState === "listening" ? 1 + mascot.audioLevel * 0.3 : 1) * mascot.bounceScale
    }
    SequentialAnimation on bounceScale {
        loops: Animation.Infinite
        running: mascot.visible
        NumberAnimation { to: 1.08; duration: 600; easing.type: Easing.InOutQuad }
        NumberAnimation { to: 1; duration: 600; easing.type: Easing.InOutQuad }
    }
    NumberAnimation on turn {
        from: 0
        to: 360
        duration: 2000
        loops: Animation.Infinite
        running: mascot.visible && mascot.mascotState === "processing"
    }
}
