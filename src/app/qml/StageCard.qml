import QtQuick
import Tavrune.Ui
import QtQuick.Layouts

// One refinement stage after the stop: state, title, elapsed time and text,
// in its place in the stages list. The place it takes eases open and shut,
// so the cards below glide; the card comes in from the list's top edge and
// goes back out there, fading.
Item {
    id: slot
    required property int stage
    required property string title
    required property string subtitle
    required property int stageState
    required property string elapsedText
    required property string text
    required property bool isFinal
    // kept below the card, so the gap opens and shuts with it
    property real gap: 8
    // 0 in its place, 1 out beyond the list's top edge
    property real away: 1
    property bool leaving: false
    // the place it will take once its easing is over
    readonly property real targetHeight: leaving ? 0 : stageCard.implicitHeight + gap
    property real placeHeight: stageCard.implicitHeight + gap
    Behavior on placeHeight {
        enabled: !entering.running
        NumberAnimation { duration: 250; easing.type: Easing.InOutQuad }
    }
    height: placeHeight * (1 - away)
    // in its place, a card that grows is shown as far as its place has opened
    clip: away === 0
    // on the move it passes behind the cards in place (the view puts them at 1)
    z: 1 - away

    NumberAnimation on away {
        id: entering
        from: 1
        to: 0
        duration: 250
        easing.type: Easing.InOutQuad
    }
    ListView.onRemove: {
        leaving = true
        leave.start()
    }
    SequentialAnimation {
        id: leave
        PropertyAction { target: slot; property: "ListView.delayRemove"; value: true }
        NumberAnimation { target: slot; property: "away"; to: 1; duration: 250; easing.type: Easing.InOutQuad }
        PropertyAction { target: slot; property: "ListView.delayRemove"; value: false }
    }

    Card {
        id: stageCard
        readonly property bool running: slot.stageState === OverlayStageListModel.Running
        // by stage: live, Whisper Base, Whisper Large, polish
        readonly property color tint: [Theme.blue, Theme.orange, Theme.purple, Theme.green][slot.stage]

        width: slot.width
        opacity: 1 - slot.away
        transform: Translate { y: -slot.away * (slot.y + stageCard.height) }
        objectName: "stageCard_" + slot.stage
        // read as its title and state, its text below it
        Accessible.role: Accessible.ListItem
        Accessible.name: slot.title + ", " + ["processing", "waiting", "done", "no text"][slot.stageState]
        // a card on its way out is no longer read
        Accessible.ignored: !visible || slot.leaving
        color: Theme.alpha(tint, running ? 0.08 : 0.04)
        strokeColor: running ? Theme.alpha(tint, 0.4) : "transparent"
        radius: 10
        padding: 10
        spacing: 6

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            StageIndicator {
                stageState: slot.stageState
                tint: stageCard.tint
            }
            ColumnLayout {
                spacing: 1
                RowLayout {
                    spacing: 4
                    Text {
                        text: slot.title
                        font.pixelSize: 12
                        font.weight: Font.DemiBold
                        color: stageCard.running ? stageCard.tint : Theme.primary
                    }
                    SymbolIcon {
                        visible: slot.isFinal && slot.stageState === OverlayStageListModel.Complete
                        symbol: "checkmark.seal.fill"
                        size: 12
                        color: Theme.green
                    }
                }
                Caption {
                    Accessible.ignored: !visible || slot.leaving
                    text: slot.subtitle
                    font.pixelSize: 9
                    font.weight: Font.Medium
                    color: Theme.tertiary
                }
            }
            Item { Layout.fillWidth: true }
            Caption {
                Accessible.ignored: !visible || slot.leaving
                objectName: "elapsedText"
                visible: stageCard.running
                text: slot.elapsedText
                font.family: Theme.monospace
                font.pixelSize: 10
                color: stageCard.tint
            }
        }
        Caption {
            Accessible.ignored: !visible || slot.leaving
            objectName: "stageText"
            visible: text.length > 0
            text: slot.text
            Layout.fillWidth: true
            Layout.leftMargin: 30
            wrapMode: Text.Wrap
            maximumLineCount: 4
            elide: Text.ElideRight
            font.pixelSize: 12
            color: slot.isFinal ? Theme.primary : Theme.secondary
        }
    }
}
