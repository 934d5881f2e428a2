import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tavrune.Ui

// The window behind the tray icon: Start/Stop with the two chords, the
// selected tab, the tab bar and Quit.
Rectangle {
    id: root
    required property MenubarViewModel viewModel
    required property ViewServices services
    property string selectedTab: "home"
    // What the tray would tell, set by the host on a desktop without one.
    property string notice
    readonly property var tabs: [
        { tab: "home", title: "Home", symbol: "house.fill" },
        { tab: "dictionary", title: "Dictionary", symbol: "character.book.closed.fill" },
        { tab: "snippets", title: "Snippets", symbol: "text.badge.plus" },
        { tab: "settings", title: "Settings", symbol: "gearshape.fill" }
    ]

    width: 380
    height: 560
    color: Theme.window

    // Called by the host each time the window comes on screen: statistics,
    // history and the tab on show are read afresh.
    function appear() {
        viewModel.reload()
        pageAppears()
    }
    function pageAppears() {
        const page = pages.children[pages.currentIndex]
        if (page && page.item && page.item.appear)
            page.item.appear()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 10
            Layout.bottomMargin: 10
            spacing: 10

            PlainButton {
                id: startStopButton
                objectName: "startStopButton"
                text: root.viewModel.isDictating ? "Stop" : "Start Dictation"
                readonly property color tint: root.viewModel.isDictating ? Theme.red : Theme.accent
                implicitWidth: startStop.implicitWidth
                implicitHeight: startStop.implicitHeight
                onClicked: root.viewModel.toggleDictation()
                Rectangle {
                    id: startStop
                    radius: 8
                    color: Theme.alpha(startStopButton.tint, 0.1)
                    implicitWidth: startStopRow.implicitWidth + 24
                    implicitHeight: startStopRow.implicitHeight + 12
                    RowLayout {
                        id: startStopRow
                        anchors.centerIn: parent
                        spacing: 6
                        SymbolIcon {
                            symbol: root.viewModel.isDictating ? "stop.circle.fill" : "mic.circle.fill"
                            color: startStopButton.tint
                            size: 18
                        }
                        Text {
                            objectName: "startStopLabel"
                            text: startStopButton.text
                            font.pixelSize: 13
                            font.weight: Font.DemiBold
                            color: Theme.primary
                        }
                    }
                }
            }
            Item { Layout.fillWidth: true }
            Repeater {
                model: ["Alt Space", "Super Space"]
                ChordChip {
                    required property string modelData
                    objectName: "headerChord_" + modelData
                    radius: 4
                    horizontalPadding: 6
                    verticalPadding: 3
                    keys: modelData
                    unavailable: root.viewModel.unavailableChords.indexOf(modelData) >= 0
                    textColor: Theme.secondary
                    font.pixelSize: 10
                    font.weight: Font.Medium
                }
            }
        }

        // Why Start did nothing, where the user pressed it.
        Caption {
            objectName: "startFailure"
            visible: text.length > 0
            text: root.viewModel.startFailure
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.bottomMargin: 8
            wrapMode: Text.Wrap
            font.pixelSize: 11
            color: Theme.red
        }

        Caption {
            objectName: "notice"
            visible: text.length > 0
            text: root.notice
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.bottomMargin: 8
            wrapMode: Text.Wrap
            font.pixelSize: 11
            color: Theme.primary
        }

        Divider { Layout.fillWidth: true }

        StackLayout {
            id: pages
            objectName: "tabContent"
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: root.tabs.findIndex(t => t.tab === root.selectedTab)
            onCurrentIndexChanged: {
                fadeIn.restart()
                // once the tab's loader has built it
                Qt.callLater(root.pageAppears)
            }
            // The new tab fades in on a spring.
            Spring {
                id: fadeIn
                objectName: "tabSpring"
                target: pages
                property: "opacity"
                from: 0
                to: 1
                response: 0.3
                dampingFraction: 0.8
                epsilon: 0.005
            }

            // A tab is built when first shown: the window opens faster.
            Loader {
                sourceComponent: HomeTab { viewModel: root.viewModel }
            }
            Loader {
                active: StackLayout.isCurrentItem || item !== null
                sourceComponent: DictionaryManagementView { services: root.services }
            }
            Loader {
                active: StackLayout.isCurrentItem || item !== null
                sourceComponent: SnippetsView { services: root.services }
            }
            Loader {
                active: StackLayout.isCurrentItem || item !== null
                sourceComponent: MacSettingsView { viewModel: root.viewModel; services: root.services }
            }
        }

        Divider { Layout.fillWidth: true }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            Layout.bottomMargin: 4
            spacing: 0
            Repeater {
                model: root.tabs
                // a page tab on the accessibility bus, checked while its page shows
                TabButton {
                    id: tabButton
                    required property var modelData
                    readonly property bool selected: root.selectedTab === modelData.tab
                    readonly property color tint: selected ? Theme.accent : Theme.secondary
                    objectName: "tab_" + modelData.tab
                    text: modelData.title
                    checked: selected
                    padding: 4
                    focusPolicy: Qt.StrongFocus
                    Keys.onReturnPressed: clicked()
                    Keys.onEnterPressed: clicked()
                    // a page tab's role lists no Press of its own
                    Accessible.onPressAction: clicked()
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    implicitWidth: tabColumn.implicitWidth + 8
                    implicitHeight: tabColumn.implicitHeight + 8
                    onClicked: root.selectedTab = modelData.tab
                    background: FocusRing { shown: tabButton.visualFocus; anchors.margins: 1 }
                    HoverHandler { cursorShape: Qt.PointingHandCursor }
                    contentItem: ColumnLayout {
                        id: tabColumn
                        spacing: 3
                        SymbolIcon {
                            Layout.alignment: Qt.AlignHCenter
                            symbol: tabButton.modelData.symbol
                            color: tabButton.tint
                            size: 16
                        }
                        Text {
                            Layout.alignment: Qt.AlignHCenter
                            text: tabButton.text
                            font.pixelSize: 9
                            font.weight: tabButton.selected ? Font.Bold : Font.Medium
                            color: tabButton.tint
                        }
                    }
                }
            }
        }

        Divider { Layout.fillWidth: true }

        PlainButton {
            objectName: "quitButton"
            text: "Quit Tavrune"
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.bottomMargin: 8
            implicitWidth: quitRow.implicitWidth
            implicitHeight: quitRow.implicitHeight + 12
            onClicked: Qt.quit()
            RowLayout {
                id: quitRow
                anchors.centerIn: parent
                spacing: 6
                SymbolIcon { symbol: "power"; color: Theme.secondary; size: 13 }
                Text {
                    text: "Quit Tavrune"
                    font.pixelSize: 12
                    font.weight: Font.Medium
                    color: Theme.secondary
                }
            }
        }
    }
}
