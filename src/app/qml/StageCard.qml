import QtQuick
import Tavrune.Ui
import QtQuick.Layouts

// One refinement stage after the stop: state, title, elapsed time and text.
Card {
    id: stageCard
    required property int stage
    required property string title
    required property string subtitle
    required property int stageState
    required property string elapsedText
    required property string text
    required property bool isFinal
    readonly property bool running: stageState === OverlayStageListModel.Running
    // by stage: live, Whisper Base, Whisper Large, polish
    readonly property color tint: [Theme.blue, Theme.orange, Theme.purple, Theme.green][stage]

    // moved up by this much as it comes and goes
    property real slide: 0
    transform: Translate { y: stageCard.slide }
    // Cards slide down into place as their stage appears.
    ParallelAnimation {
        running: true
        NumberAnimation { target: stageCard; property: "opacity"; from: 0; to: 1; duration: 250; easing.type: Easing.InOutQuad }
        NumberAnimation { target: stageCard; property: "slide"; from: -8; to: 0; duration: 250; easing.type: Easing.InOutQuad }
    }
    objectName: "stageCard_" + stage
    // read as its title and state, its text below it
    Accessible.role: Accessible.ListItem
    Accessible.name: title + ", " + ["processing", "waiting", "done", "no text"][stageState]
    color: Theme.alpha(tint, running ? 0.08 : 0.04)
    strokeColor: running ? Theme.alpha(tint, 0.4) : "transparent"
    radius: 10
    padding: 10
    spacing: 6

    RowLayout {
        Layout.fillWidth: true
        spacing: 8
        StageIndicator {
            stageState: stageCard.stageState
            tint: stageCard.tint
        }
        ColumnLayout {
            spacing: 1
            RowLayout {
                spacing: 4
                Text {
                    text: stageCard.title
                    font.pixelSize: 12
                    font.weight: Font.DemiBold
                    color: stageCard.running ? stageCard.tint : Theme.primary
                }
                SymbolIcon {
                    visible: stageCard.isFinal && stageCard.stageState === OverlayStageListModel.Complete
                    symbol: "checkmark.seal.fill"
                    size: 12
                    color: Theme.green
                }
            }
            Text {
                text: stageCard.subtitle
                font.pixelSize: 9
                font.weight: Font.Medium
                color: Theme.tertiary
            }
        }
        Item { Layout.fillWidth: true }
        Text {
            objectName: "elapsedText"
            visible: stageCard.running
            text: stageCard.elapsedText
            font.family: Theme.monospace
            font.pixelSize: 10
            color: stageCard.tint
        }
    }
    Text {
        objectName: "stageText"
        visible: text.length > 0
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        Accessible.ignored: !visible
        text: stageCard.text
        Layout.fillWidth: true
        Layout.leftMargin: 30
        wrapMode: Text.Wrap
        maximumLineCount: 4
        elide: Text.ElideRight
        font.pixelSize: 12
        color: stageCard.isFinal ? Theme.primary : Theme.secondary
    }
}
