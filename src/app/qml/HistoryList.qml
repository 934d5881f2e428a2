import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tavrune.Ui

// Past dictations, newest first, under a search field; `leading` is shown
// above the history and scrolls with it. Rows are built as they scroll in.
ListView {
    id: list
    property var sessions
    property string searchText
    property Component leading
    signal searchTextEdited(string text)
    signal copyRequested(string text)

    objectName: "historyList"
    model: sessions
    spacing: 6
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    // No current row: a current row would take the focus from the search field.
    currentIndex: -1
    keyNavigationEnabled: false
    ScrollBar.vertical: PageScrollBar {}
    FocusInView { flickable: list }
    // A header that grows above (the live card) moves the origin, not the
    // view: a list shown from its top keeps showing its top.
    property bool atTop: true
    onContentYChanged: atTop = contentY <= originY + 1
    onOriginYChanged: if (atTop) positionViewAtBeginning()

    header: ColumnLayout {
        width: list.width
        spacing: 10
        Loader {
            Layout.fillWidth: true
            sourceComponent: list.leading
        }
        Item { implicitHeight: 6 }
        RowLayout {
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Caption {
                text: "History"
                font.pixelSize: 14
                font.bold: true
                color: Theme.primary
            }
            Item { Layout.fillWidth: true }
            Caption {
                objectName: "recordingCount"
                text: qsTr("%n recording(s)", "", list.count)
                font.pixelSize: 11
                font.weight: Font.Medium
                color: Theme.tertiary
            }
        }
        SearchBar {
            id: searchBar
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.bottomMargin: 4
            placeholderText: "Search transcripts..."
            text: list.searchText
            onEdited: text => list.searchTextEdited(text)
            PlainButton {
                objectName: "clearSearchButton"
                text: "Clear search"
                visible: list.searchText.length > 0
                implicitWidth: 14
                implicitHeight: 14
                // the button hides itself: the focus goes to the field it cleared
                onClicked: {
                    list.searchTextEdited("")
                    searchBar.focusField(focusReason)
                }
                SymbolIcon { symbol: "xmark.circle.fill"; size: 13; color: Theme.tertiary }
            }
        }
    }

    footer: ColumnLayout {
        width: list.width
        visible: list.count === 0
        height: visible ? implicitHeight : 8
        spacing: 8
        Item { implicitHeight: 16 }
        SymbolIcon {
            Layout.alignment: Qt.AlignHCenter
            symbol: "waveform.slash"
            size: 28
            color: Theme.tertiary
        }
        Caption {
            objectName: "emptyHistoryText"
            Layout.alignment: Qt.AlignHCenter
            text: list.searchText.length === 0 ? "No recordings yet" : "No matches"
            font.pixelSize: 13
            font.weight: Font.Medium
            color: Theme.secondary
        }
        Item { implicitHeight: 24 }
    }

    delegate: HistoryRow {
        x: 16
        width: list.width - 32
        onCopyRequested: text => list.copyRequested(text)
        Component.onCompleted: Qt.callLater(list.orderRows)
        onIndexChanged: Qt.callLater(list.orderRows)
    }

    // Tab follows the rows as they stand on screen. The list makes rows in
    // the order they scroll into view, and Tab would follow that.
    function orderRows() {
        const rows = Array.from(contentItem.children).filter(child => child.objectName === "historyRow")
                                                     .sort((a, b) => a.index - b.index)
        for (let i = 1; i < rows.length; ++i)
            TabOrder.placeAfter(rows[i], rows[i - 1])
    }
}
