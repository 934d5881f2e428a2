import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tavrune.Ui

// The user's snippets, searchable by shortcut, text or category, with a
// sheet to add one (or replace one of the same shortcut) and delete buttons.
Rectangle {
    id: root
    required property ViewServices services
    readonly property var snippets: services.snippets

    objectName: "snippetsView"
    color: Theme.window

    // its host calls this each time the view comes on screen
    function appear() { snippets.reload() }

    Flickable {
        id: flickable
        anchors.fill: parent
        contentHeight: column.implicitHeight
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

        ColumnLayout {
            id: column
            width: flickable.width
            spacing: 16

            RowLayout {
                Layout.fillWidth: true
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.topMargin: 12
                Text { text: "Snippets"; font.pixelSize: 16; font.bold: true; color: Theme.primary }
                Item { Layout.fillWidth: true }
                PlainButton {
                    objectName: "addSnippetButton"
                    implicitWidth: 18
                    implicitHeight: 18
                    // the fields keep what was typed since the last Cancel or Save
                    onClicked: addSheet.open()
                    SymbolIcon { anchors.centerIn: parent; symbol: "plus.circle.fill"; size: 16; color: Theme.accent }
                }
            }

            SearchBar {
                id: search
                Layout.fillWidth: true
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                placeholderText: "Search snippets..."
                onEdited: text => root.snippets.searchText = text
            }

            ColumnLayout {
                objectName: "emptySnippets"
                visible: root.snippets.count === 0
                Layout.fillWidth: true
                Layout.topMargin: 24
                Layout.bottomMargin: 24
                spacing: 8
                SymbolIcon {
                    Layout.alignment: Qt.AlignHCenter
                    symbol: "text.badge.plus"
                    size: 28
                    color: Theme.tertiary
                }
                Text {
                    objectName: "emptySnippetsTitle"
                    Layout.alignment: Qt.AlignHCenter
                    text: root.snippets.searchText.length > 0 ? "No matches" : "No snippets yet"
                    font.pixelSize: 13
                    font.weight: Font.Medium
                    color: Theme.secondary
                }
                Text {
                    Layout.alignment: Qt.AlignHCenter
                    visible: root.snippets.searchText.length === 0
                    text: "Create shortcuts for text you type often"
                    font.pixelSize: 11
                    color: Theme.tertiary
                }
            }

            ColumnLayout {
                visible: root.snippets.count > 0
                Layout.fillWidth: true
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.bottomMargin: 16
                spacing: 6
                Repeater {
                    model: root.snippets
                    Card {
                        required property string shortcut
                        required property string expansion
                        required property string category
                        required property int usageCount
                        objectName: "snippetRow_" + shortcut
                        Layout.fillWidth: true
                        radius: 8
                        padding: 10
                        spacing: 4
                        color: Theme.alpha(Theme.secondary, 0.04)
                        strokeColor: Theme.alpha(Theme.secondary, 0.08)
                        RowLayout {
                            Layout.fillWidth: true
                            spacing: 6
                            Text {
                                Layout.fillWidth: true
                                text: shortcut
                                elide: Text.ElideRight
                                font.family: Theme.monospace
                                font.pixelSize: 13
                                font.bold: true
                                color: Theme.accent
                            }
                            Capsule { text: category }
                            Text {
                                visible: usageCount >= 1
                                text: usageCount + "x"
                                font.pixelSize: 10
                                font.weight: Font.Medium
                                color: Theme.tertiary
                            }
                            PlainButton {
                                objectName: "deleteSnippetButton"
                                implicitWidth: 14
                                implicitHeight: 14
                                onClicked: root.snippets.deleteSnippet(shortcut)
                                SymbolIcon { anchors.centerIn: parent; symbol: "trash"; size: 11; color: Theme.alpha(Theme.red, 0.6) }
                            }
                        }
                        Text {
                            objectName: "expansionText"
                            Layout.fillWidth: true
                            text: expansion
                            wrapMode: Text.Wrap
                            maximumLineCount: 2
                            elide: Text.ElideRight
                            font.pixelSize: 12
                            color: Theme.secondary
                        }
                    }
                }
            }
        }
    }

    Sheet {
        id: addSheet
        objectName: "addSnippetSheet"
        title: "Add Snippet"
        width: Math.min(360, root.width - 16)

        function reset() {
            shortcutField.clear()
            expansionArea.clear()
            categoryPicker.currentIndex = 0
        }

        TextField {
            id: shortcutField
            objectName: "shortcutField"
            Layout.fillWidth: true
            placeholderText: "Shortcut (e.g., '/addr')"
            font.family: Theme.monospace
            font.pixelSize: 13
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            Text { text: "Expansion"; font.pixelSize: 12; font.weight: Font.Medium; color: Theme.secondary }
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 80
                radius: 6
                color: "transparent"
                border.width: 1
                border.color: Theme.alpha(Theme.secondary, 0.2)
                ScrollView {
                    anchors.fill: parent
                    anchors.margins: 1
                    TextArea {
                        id: expansionArea
                        objectName: "expansionArea"
                        wrapMode: TextEdit.Wrap
                        font.pixelSize: 13
                        background: null
                    }
                }
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Text { text: "Category"; font.pixelSize: 12; color: Theme.primary }
            Item { Layout.fillWidth: true }
            ComboBox {
                id: categoryPicker
                objectName: "categoryPicker"
                Layout.preferredWidth: 140
                implicitHeight: 24
                font.pixelSize: 12
                model: root.snippets.categories
            }
        }
        RowLayout {
            Layout.fillWidth: true
            ActionButton {
                objectName: "cancelButton"
                text: "Cancel"
                onClicked: { addSheet.close(); addSheet.reset() }
            }
            Item { Layout.fillWidth: true }
            ActionButton {
                objectName: "saveButton"
                prominent: true
                text: "Save"
                enabled: shortcutField.text.length > 0 && expansionArea.text.length > 0
                onClicked: {
                    root.snippets.saveSnippet(shortcutField.text, expansionArea.text, categoryPicker.currentText)
                    addSheet.close()
                    addSheet.reset()
                }
            }
        }
    }
}
