import QtQuick
import QtQuick.Layouts
import Tavrune.Ui

// Statistics, the live text while dictating, and the searchable history,
// scrolled as one list whose rows are built as they come into view.
HistoryList {
    id: home
    required property MenubarViewModel viewModel

    sessions: viewModel.filteredSessions
    searchText: viewModel.searchText
    onSearchTextEdited: text => viewModel.searchText = text
    onCopyRequested: text => viewModel.copyToPasteboard(text)

    leading: ColumnLayout {
        width: home.width
        spacing: 16
        StatsCarousel {
            Layout.fillWidth: true
            Layout.topMargin: 8
            totalWords: home.viewModel.totalWords
            streakDays: home.viewModel.streakDays
            averageWPM: home.viewModel.averageWPM
            streakMessage: home.viewModel.streakMessage
        }
        Card {
            objectName: "liveCard"
            visible: home.viewModel.isDictating && home.viewModel.liveTranscript.length > 0
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            padding: 12
            radius: 10
            color: Theme.alpha(Theme.red, 0.05)
            strokeColor: Theme.alpha(Theme.red, 0.2)
            RowLayout {
                spacing: 6
                // a layout sizes its items from their implicit size
                Rectangle { objectName: "liveDot"; implicitWidth: 6; implicitHeight: 6; radius: 3; color: Theme.red }
                Caption { objectName: "liveTitle"; text: "Live"; font.pixelSize: 11; font.bold: true; color: Theme.red }
            }
            Caption {
                Layout.fillWidth: true
                text: home.viewModel.liveTranscript
                wrapMode: Text.Wrap
                maximumLineCount: 4
                elide: Text.ElideRight
                font.pixelSize: 13
                color: Theme.primary
            }
        }
    }
}
