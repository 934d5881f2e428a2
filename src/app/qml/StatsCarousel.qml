import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tavrune.Ui

// Three pages of statistics (words, streak, speed) with page dots; swipe or
// click a dot to page.
ColumnLayout {
    id: carousel
    property int totalWords: 0
    property int streakDays: 0
    property double averageWPM: 0
    property string streakMessage: ""
    property alias selectedPage: pages.currentIndex

    objectName: "statsCarousel"
    spacing: 8

    SwipeView {
        id: pages
        objectName: "statsPages"
        Accessible.name: "Statistics"
        Accessible.ignored: !visible
        Layout.fillWidth: true
        Layout.leftMargin: 16
        Layout.rightMargin: 16
        Layout.preferredHeight: 140
        clip: true
        // The pages take the focus as one control and ring as one, inside
        // their edge: they clip what lies beyond it.
        background: FocusRing { shown: pages.visualFocus; gap: -3 }

        StatsPage {
            objectName: "wordsPage"
            figure: StatsPhrases.count(carousel.totalWords)
            unit: qsTr("word(s)", "", carousel.totalWords)
            tint: Theme.green
            description: "you've dictated so far."
            detail: StatsPhrases.bookLine(carousel.totalWords)
        }
        StatsPage {
            objectName: "streakPage"
            figure: String(StatsPhrases.streakValue(carousel.streakDays))
            unit: StatsPhrases.streakUnit(carousel.streakDays)
            tint: Theme.orange
            description: carousel.streakMessage
        }
        StatsPage {
            objectName: "speedPage"
            figure: carousel.averageWPM.toFixed(0)
            unit: "wpm"
            tint: Theme.cyan
            description: "This is your words per minute speed."
            detail: StatsPhrases.percentileLine(carousel.averageWPM)
        }
    }

    Row {
        Layout.alignment: Qt.AlignHCenter
        spacing: 0
        Repeater {
            model: 3
            PlainButton {
                id: dot
                required property int index
                objectName: "pageDot_" + index
                text: "Page " + (index + 1)
                implicitWidth: 14
                implicitHeight: 14
                onClicked: pages.currentIndex = index
                Rectangle {
                    anchors.centerIn: parent
                    width: 6
                    height: 6
                    radius: 3
                    color: pages.currentIndex === dot.index ? Theme.primary : Theme.alpha(Theme.secondary, 0.3)
                }
            }
        }
    }
}
