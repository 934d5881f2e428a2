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
    // The row of the shortcut, once the list shows it; null if it does not.
    function rowOf(shortcut) {
        for (let i = 0; i < snippetRows.count; ++i) {
            const row = snippetRows.itemAt(i)
            if (row && row.shortcut === shortcut)
                return row
        }
        return null
    }
    // Deletes the snippet of row index; the focus moves to the row that
    // takes its place, else the one before, else the Add button.
    function deleteSnippet(index) {
        snippets.deleteSnippet(snippetRows.itemAt(index).shortcut)
        const next = snippetRows.itemAt(Math.min(index, snippetRows.count - 1))
        const focused = next ? next.deleteButton : addSnippetButton
        focused.forceActiveFocus(Qt.TabFocusReason)
    }

    Flickable {
        id: flickable
        anchors.fill: parent
        contentHeight: column.implicitHeight
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: PageScrollBar {}
        FocusInView { flickable: flickable }

        ColumnLayout {
            id: column
            width: flickable.width
            spacing: 16

            RowLayout {
                Layout.fillWidth: true
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.topMargin: 12
                Caption { text: "Snippets"; font.pixelSize: 16; font.bold: true; color: Theme.primary }
                Item { Layout.fillWidth: true }
                PlainButton {
                    id: addSnippetButton
                    objectName: "addSnippetButton"
                    text: "Add Snippet"
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
                Caption {
                    objectName: "emptySnippetsTitle"
                    // filling the width lets the column fill it too
                    Layout.fillWidth: true
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                    text: root.snippets.searchText.length > 0 ? "No matches" : "No snippets yet"
                    font.pixelSize: 13
                    font.weight: Font.Medium
                    color: Theme.secondary
                }
                Caption {
                    objectName: "emptySnippetsHint"
                    Layout.fillWidth: true
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
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
                    id: snippetRows
                    model: root.snippets
                    Card {
                        required property int index
                        required property string shortcut
                        required property string expansion
                        required property string category
                        required property int usageCount
                        readonly property Item deleteButton: deleteSnippetButton
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
                            Caption {
                                Layout.fillWidth: true
                                text: shortcut
                                elide: Text.ElideRight
                                font.family: Theme.monospace
                                font.pixelSize: 13
                                font.bold: true
                                color: Theme.accent
                            }
                            Capsule { text: category }
                            Caption {
                                visible: usageCount >= 1
                                text: usageCount + "x"
                                font.pixelSize: 10
                                font.weight: Font.Medium
                                color: Theme.tertiary
                            }
                            PlainButton {
                                id: deleteSnippetButton
                                objectName: "deleteSnippetButton"
                                text: "Delete " + shortcut
                                implicitWidth: 14
                                implicitHeight: 14
                                onClicked: root.deleteSnippet(index)
                                SymbolIcon { anchors.centerIn: parent; symbol: "trash"; size: 11; color: Theme.alpha(Theme.red, 0.6) }
                            }
                        }
                        Caption {
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
        firstField: shortcutField
        property string category: root.snippets.categories[0]

        function reset() {
            shortcutField.clear()
            expansionArea.clear()
            category = root.snippets.categories[0]
        }

        TextBox {
            id: shortcutField
            objectName: "shortcutField"
            Layout.fillWidth: true
            placeholderText: "Shortcut (e.g., '/addr')"
            font.family: Theme.monospace
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            Caption { text: "Expansion"; font.pixelSize: 12; font.weight: Font.Medium; color: Theme.secondary }
            FieldFrame {
                Layout.fillWidth: true
                implicitHeight: 80
                focused: expansionArea.activeFocus
                ScrollView {
                    anchors.fill: parent
                    anchors.margins: 2
                    TextArea {
                        id: expansionArea
                        objectName: "expansionArea"
                        wrapMode: TextEdit.Wrap
                        font.pixelSize: 13
                        color: Theme.primary
                        selectionColor: Theme.alpha(Theme.accent, 0.35)
                        selectedTextColor: Theme.primary
                        Accessible.name: "Expansion"
                        // Tab moves on to the next control rather than into the text
                        KeyNavigation.priority: KeyNavigation.BeforeItem
                        KeyNavigation.tab: categoryPicker
                        background: null
                    }
                }
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Caption { id: categoryLabel; text: "Category"; font.pixelSize: 12; color: Theme.primary }
            Item { Layout.fillWidth: true }
            Picker {
                id: categoryPicker
                objectName: "categoryPicker"
                label: categoryLabel.text
                Layout.preferredWidth: Math.max(140, implicitWidth)
                items: root.snippets.categories.map(c => ({ text: c, value: c }))
                value: addSheet.category
                onPicked: value => addSheet.category = value
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
                    root.snippets.saveSnippet(shortcutField.text, expansionArea.text, addSheet.category)
                    const saved = root.rowOf(shortcutField.text)
                    addSheet.closeFocusing(saved ? saved.deleteButton : null)
                    addSheet.reset()
                }
            }
        }
    }
}
