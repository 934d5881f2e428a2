import QtQuick
import QtQuick.Layouts

// One refinement stage after the stop: state, title, elapsed time and text.
Card {
    id: stageCard
    property var stage: ({})
    readonly property bool running: stage.state === "running"
    readonly property color tint: Theme.named(stage.color)

    objectName: "stageCard_" + stage.stage
    color: Theme.alpha(tint, running ? 0.08 : 0.04)
    strokeColor: running ? Theme.alpha(tint, 0.4) : "transparent"
    radius: 10
    padding: 10
    spacing: 6

    // Cards slide in from the top as their stage appears.
    transform: Translate { id: slide }
    ParallelAnimation {
        running: true
        NumberAnimation { target: stageCard; property: "opacity"; from: 0; to: 1; duration: 250; easing.type: Easing.InOutQuad }
        NumberAnimation { target: slide; property: "y"; from: -8; to: 0; duration: 250; easing.type: Easing.InOutQuad }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 8
        StageIndicator {
            stageState: stageCard.stage.state
            tint: stageCard.tint
        }
        ColumnLayout {
            spacing: 1
            RowLayout {
                spacing: 4
                Text {
                    text: stageCard.stage.title
                    font.pixelSize: 12
                    font.weight: Font.DemiBold
                    color: stageCard.running ? stageCard.tint : Theme.primary
                }
                SymbolIcon {
                    visible: stageCard.stage.isFinal && stageCard.stage.state === "complete"
                    symbol: "checkmark.seal.fill"
                    size: 12
                    color: Theme.green
                }
            }
            Text {
                text: stageCard.stage.subtitle
                font.pixelSize: 9
                font.weight: Font.Medium
                color: Theme.tertiary
            }
        }
        Item { Layout.fillWidth: true }
        Text {
            objectName: "elapsedText"
            visible: stageCard.running
            text: stageCard.stage.elapsedText
            font.family: Theme.monospace
            font.pixelSize: 10
            color: stageCard.tint
        }
    }
    Text {
        visible: text.length > 0
        text: stageCard.stage.text || ""
        Layout.fillWidth: true
        Layout.leftMargin: 30
        wrapMode: Text.Wrap
        maximumLineCount: 4
        elide: Text.ElideRight
        font.pixelSize: 12
        color: stageCard.stage.isFinal ? Theme.primary : Theme.secondary
    }
}
