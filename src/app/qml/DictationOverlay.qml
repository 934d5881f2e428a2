import QtQuick
import QtQuick.Layouts
import QtQuick.Window
import Tavrune.Ui

// The floating dictation panel: mascot, status, hint and level while
// listening, the live text, then one card per refinement stage.
Item {
    id: root
    required property DictationOverlayModel model
    // Set by the panel: whether a compositor blends the window's alpha.
    property bool translucent: false
    readonly property int shadowMargin: translucent ? 24 : 0
    readonly property real cornerRadius: 16
    readonly property color panelColor: Theme.panel(translucent)
    // A drag on the card: the panel lets the window manager move the window.
    signal dragStarted()

    // The window is at least this tall. A window that grows shows its new
    // area before it is drawn, so it takes the height the card eases to at
    // once and the card grows inside it, from its bottom edge; when the card
    // shrinks, the window follows once it is done.
    implicitWidth: 420 + 2 * shadowMargin
    implicitHeight: frameHeight + 2 * shadowMargin
    // the card as drawn, and once the stages list has come to rest
    readonly property real drawnHeight: content.implicitHeight + 32
    readonly property real restingHeight: drawnHeight + (stack.shown ? stack.targetHeight - stack.shownHeight : 0)
    property real frameHeight: 0
    function refit() {
        frameHeight = Math.abs(drawnHeight - restingHeight) < 0.5 ? restingHeight
                                                                 : Math.max(frameHeight, drawnHeight, restingHeight)
    }
    onDrawnHeightChanged: refit()
    onRestingHeightChanged: refit()
    Component.onCompleted: refit()

    // A soft shadow below the card, drawn only where it can blend.
    Repeater {
        model: root.translucent ? 8 : 0
        Rectangle {
            x: root.shadowMargin - spread
            y: panel.y - spread + 8
            width: panel.width + 2 * spread
            height: panel.height + 2 * spread
            readonly property real spread: (index + 1) * 2.5
            radius: root.cornerRadius + spread
            color: Qt.rgba(0, 0, 0, 0.15 / 8)
        }
    }

    Rectangle {
        id: panel
        objectName: "overlayPanel"
        x: root.shadowMargin
        y: root.height - root.shadowMargin - height
        width: 420
        height: root.drawnHeight
        radius: root.cornerRadius
        color: root.panelColor
        border.width: 1
        border.color: Theme.alpha(Theme.primary, 0.08)

        DragHandler {
            objectName: "overlayMover"
            target: null
            onActiveChanged: if (active) root.dragStarted()
        }

        // Read out as it appears, without taking the focus: a start that
        // failed, a dictation that is done. It waits for the state to hold
        // a moment, since the header passes through "Done" between the
        // stop and the refinement.
        Item {
            id: announcer
            objectName: "announcement"
            property string text
            // With nothing to say it is not there for a screen reader. It
            // is there before it shows, so that its showing is heard.
            property bool present: false
            readonly property string wanted: root.model.announcement
            onWantedChanged: {
                text = ""
                present = false
                settle.restart()
            }
            visible: text.length > 0 && root.Window.visibility !== Window.Hidden
            width: 1
            height: 1
            Accessible.role: Accessible.AlertMessage
            Accessible.name: text
            Accessible.ignored: !present
            Timer {
                id: settle
                interval: 300
                onTriggered: {
                    announcer.present = announcer.wanted.length > 0
                    announcer.text = announcer.wanted
                }
            }
        }

        ColumnLayout {
            id: content
            x: 16
            y: 16
            width: parent.width - 32
            // each part below the header keeps its own gap, so a collapsed
            // one takes none
            spacing: 0

            RowLayout {
                spacing: 10
                Layout.fillWidth: true
                Mascot {
                    id: mascot
                    mascotState: root.model.mascotState
                    audioLevel: root.model.audioLevel
                }
                ColumnLayout {
                    spacing: 1
                    Layout.fillWidth: true
                    Text {
                        objectName: "statusTitle"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        text: root.model.statusTitle
                        font.pixelSize: 13
                        font.bold: true
                        color: mascot.tint
                    }
                    Text {
                        objectName: "hintLine"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        Accessible.ignored: text.length === 0
                        text: root.model.hintLine
                        Layout.fillWidth: true
                        // a failed start's reason is a sentence or two
                        wrapMode: Text.Wrap
                        maximumLineCount: 3
                        elide: Text.ElideRight
                        font.pixelSize: 10
                        font.weight: Font.Medium
                        color: Theme.secondary
                    }
                }
                WaveformBars {
                    visible: root.model.isDictating
                    heights: root.model.barHeights
                }
            }

            // The live text, following its newest words.
            Flickable {
                id: liveArea
                objectName: "liveTextArea"
                visible: root.model.isDictating && root.model.liveTranscript.length > 0
                Layout.fillWidth: true
                Layout.topMargin: 10
                Layout.preferredHeight: Math.min(liveText.implicitHeight, 80)
                contentWidth: width
                contentHeight: liveText.implicitHeight
                // Always at the end, so the newest words stay in view.
                contentY: Math.max(0, contentHeight - height)
                Behavior on contentY { NumberAnimation { duration: 100; easing.type: Easing.OutCubic } }
                clip: true
                interactive: false
                Text {
                    id: liveText
                    objectName: "liveText"
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    Accessible.ignored: !liveArea.visible
                    width: liveArea.width
                    text: root.model.liveTranscript
                    wrapMode: Text.Wrap
                    font.pixelSize: 13
                    color: Theme.primary
                }
            }

            // A running card's tick changes its row in place. Each card's
            // place eases open and shut, so the cards below it and the
            // list's height glide as texts arrive or cards come and go.
            Item {
                id: stack
                objectName: "stageList"
                // Collapsed, never hidden: a layout that changes inside a
                // hidden item is not laid out again once shown, and the
                // cards' rows would keep their places from before.
                readonly property bool shown: !root.model.isDictating && cards.count > 0
                opacity: shown ? 1 : 0
                enabled: shown
                Accessible.role: Accessible.List
                Accessible.name: "Stages"
                Accessible.ignored: !shown
                Layout.fillWidth: true
                Layout.topMargin: shown ? 10 : 0
                // each card keeps the gap below it
                readonly property real shownHeight: Math.max(0, cards.contentHeight - cards.gap)
                Layout.preferredHeight: shown ? shownHeight : 0
                // its height once the cards have come to rest
                readonly property real targetHeight: {
                    const slots = cards.contentItem.children
                    let sum = 0
                    for (let i = 0; i < slots.length; ++i)
                        sum += slots[i].targetHeight || 0
                    return Math.max(0, sum - cards.gap)
                }
                clip: true

                ListView {
                    id: cards
                    readonly property real gap: 8
                    // Never resized: a view that lays out again while a card
                    // leaves drops that card at once.
                    width: parent.width
                    height: 2000
                    interactive: false
                    model: root.model.stages
                    delegate: StageCard {
                        width: cards.width
                        gap: cards.gap
                    }
                }
            }
        }
    }
}
