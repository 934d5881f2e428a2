import QtQuick
import QtQuick.Layouts

// One past dictation: when, how long, its text (two lines until expanded)
// and a copy button that shows a check for a moment.
Card {
    id: row
    required property int index
    required property string dateText
    required property int wordCount
    required property string durationText
    required property string displayText
    required property bool isLong
    property bool isExpanded: false
    property bool copied: false
    property int copiedMs: 1500
    signal copyRequested(string text)

    objectName: "historyRow"
    radius: 8
    padding: 10
    spacing: 6
    color: Theme.alpha(Theme.secondary, 0.04)
    strokeColor: Theme.alpha(Theme.secondary, 0.08)

    RowLayout {
        Layout.fillWidth: true
        ColumnLayout {
            spacing: 1
            Caption {
                text: row.dateText
                font.pixelSize: 11
                font.weight: Font.DemiBold
                color: Theme.secondary
            }
            RowLayout {
                spacing: 6
                SymbolIcon { symbol: "textformat.size"; size: 11; color: Theme.tertiary }
                Caption {
                    text: row.wordCount
                    Accessible.name: qsTr("%n word(s)", "", row.wordCount)
                    font.pixelSize: 10
                    font.weight: Font.Medium
                    color: Theme.tertiary
                }
                SymbolIcon { symbol: "clock"; size: 11; color: Theme.tertiary }
                Caption {
                    objectName: "durationText"
                    text: row.durationText
                    font.pixelSize: 10
                    font.weight: Font.Medium
                    color: Theme.tertiary
                }
            }
        }
        Item { Layout.fillWidth: true }
        PlainButton {
            objectName: "copyButton"
            text: "Copy recording " + (row.index + 1)
            implicitWidth: 24
            implicitHeight: 24
            onClicked: {
                row.copyRequested(row.displayText)
                row.copied = true
                // each press schedules its own reset: an earlier press's
                // still clears the check at its own time
                copiedReset.createObject(row)
            }
            Rectangle {
                width: 24
                height: 24
                radius: 12
                color: Theme.alpha(Theme.secondary, 0.08)
                SymbolIcon {
                    objectName: "copyIcon"
                    anchors.centerIn: parent
                    symbol: row.copied ? "checkmark" : "doc.on.doc"
                    size: 12
                    color: row.copied ? Theme.green : Theme.grey
                }
            }
        }
    }
    Component {
        id: copiedReset
        Timer {
            interval: row.copiedMs
            running: true
            onTriggered: {
                row.copied = false
                destroy()
            }
        }
    }
    // Show more and Show less spring between two lines and the whole text.
    Item {
        id: textBox
        objectName: "rowTextBox"
        Layout.fillWidth: true
        implicitHeight: shownHeight
        clip: true
        property real shownHeight: rowText.implicitHeight
        // only the press springs: a new width reflows at once
        property bool springing: false
        Behavior on shownHeight {
            enabled: textBox.springing
            Spring { response: 0.25; dampingFraction: 0.825; epsilon: 0.01 }
        }
        Text {
            id: rowText
            objectName: "rowText"
            width: textBox.width
            text: row.displayText
            // the whole text, also where two lines cut it short
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Accessible.ignored: !visible
            wrapMode: Text.Wrap
            maximumLineCount: row.isExpanded ? 100000 : 2
            elide: Text.ElideRight
            font.pixelSize: 12
            color: Theme.primary
        }
    }
    PlainButton {
        objectName: "showMoreButton"
        text: showMore.text + " of recording " + (row.index + 1)
        visible: row.isLong
        implicitWidth: showMore.implicitWidth
        implicitHeight: showMore.implicitHeight
        onClicked: {
            textBox.springing = true
            row.isExpanded = !row.isExpanded
            textBox.springing = false
        }
        Text {
            id: showMore
            text: row.isExpanded ? "Show less" : "Show more"
            font.pixelSize: 10
            font.weight: Font.Medium
            color: Theme.accent
        }
    }
}
