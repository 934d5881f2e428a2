import QtQuick
import Tavrune.Ui

// The overlay's little character: a microphone while listening, a turning
// gear while refining, sparkles when done, a warning when the start failed.
Item {
    id: mascot
    property int mascotState: DictationOverlayModel.Listening
    property real audioLevel: 0
    property real bounceScale: 1
    property real turn: 0

    readonly property bool failed: mascotState === DictationOverlayModel.Failed
    readonly property color tint: mascotState === DictationOverlayModel.Listening || failed ? Theme.red
                                 : mascotState === DictationOverlayModel.Processing ? Theme.blue : Theme.green
    implicitWidth: 32
    implicitHeight: 32

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: Theme.alpha(mascot.tint, 0.15)
    }
    Text {
        objectName: "mascotEmoji"
        visible: !mascot.failed
        anchors.centerIn: parent
        font.family: Theme.emoji
        font.pixelSize: mascot.mascotState === DictationOverlayModel.Processing ? 20 : 18
        text: mascot.mascotState === DictationOverlayModel.Listening ? "\u{1F3A4}"
            : mascot.mascotState === DictationOverlayModel.Processing ? "\u2699\uFE0F" : "\u2728"
        rotation: mascot.mascotState === DictationOverlayModel.Processing ? mascot.turn : 0
        scale: (mascot.mascotState === DictationOverlayModel.Listening ? 1 + mascot.audioLevel * 0.3 : 1) * mascot.bounceScale
    }
    SymbolIcon {
        objectName: "mascotWarning"
        visible: mascot.failed
        anchors.centerIn: parent
        symbol: "exclamationmark.triangle.fill"
        size: 16
        color: mascot.tint
        scale: mascot.bounceScale
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
        running: mascot.visible && mascot.mascotState === DictationOverlayModel.Processing
    }
}
