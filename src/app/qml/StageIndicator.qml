import QtQuick
import Tavrune.Ui

// A stage's state in a 22 px circle: spinner while running, check when
// complete, dashed circle while pending, warning when it gave no text.
Item {
    id: indicator
    property int stageState: OverlayStageListModel.Pending
    property color tint: Theme.blue
    implicitWidth: 22
    implicitHeight: 22

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: indicator.stageState === OverlayStageListModel.Pending ? Theme.alpha(Theme.secondary, 0.1)
                                                  : Theme.alpha(indicator.tint, 0.15)
    }
    Canvas {
        id: spinner
        objectName: "stageSpinner"
        visible: indicator.stageState === OverlayStageListModel.Running
        anchors.centerIn: parent
        width: 10
        height: 10
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.lineWidth = 1.6
            ctx.lineCap = "round"
            ctx.strokeStyle = Theme.secondary
            ctx.beginPath()
            ctx.arc(5, 5, 4, 0, Math.PI * 1.5)
            ctx.stroke()
        }
        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
            running: spinner.visible
        }
    }
    SymbolIcon {
        visible: indicator.stageState === OverlayStageListModel.Complete
        anchors.centerIn: parent
        symbol: "checkmark"
        size: 11
        color: indicator.tint
    }
    SymbolIcon {
        objectName: "stageNoText"
        visible: indicator.stageState === OverlayStageListModel.NoText
        anchors.centerIn: parent
        symbol: "exclamationmark.triangle.fill"
        size: 11
        color: indicator.tint
    }
    Canvas {
        objectName: "stageDashedCircle"
        visible: indicator.stageState === OverlayStageListModel.Pending
        anchors.centerIn: parent
        width: 12
        height: 12
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.lineWidth = 1.3
            ctx.strokeStyle = Theme.tertiary
            ctx.setLineDash([1.6, 1.6])
            ctx.beginPath()
            ctx.arc(6, 6, 5, 0, Math.PI * 2)
            ctx.stroke()
        }
    }
}
