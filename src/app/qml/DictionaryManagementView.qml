import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tavrune.Ui

// The custom dictionary (added and found terms) and the most frequent words,
// searchable, with adding and deleting terms. The lists are snapshots, read
// again on appearance and after each change.
Rectangle {
    id: root
    required property ViewServices services
    readonly property var customTerms: services.customTerms
    readonly property var topWords: services.topWords

    objectName: "dictionaryView"
    color: Theme.window

    function reload() {
        customTerms.reload()
        topWords.reload()
    }
    // its host calls this each time the view comes on screen
    function appear() { reload() }
    // The row of the term, once the list shows it; null if it does not.
    function rowOf(term) {
        for (let i = 0; i < termRows.count; ++i) {
            const row = termRows.itemAt(i)
            if (row && row.term.toLowerCase() === term.trim().toLowerCase())
                return row
        }
        return null
    }
    // Deletes the term of row index; the focus moves to the row that takes
    // its place, else the one before, else the Add button.
    function deleteTerm(index) {
        customTerms.removeTerm(termRows.itemAt(index).term)
        topWords.reload()
        const next = termRows.itemAt(Math.min(index, termRows.count - 1))
        const focused = next ? next.deleteButton : addTermButton
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
                Caption { text: "Dictionary"; font.pixelSize: 16; font.bold: true; color: Theme.primary }
                Item { Layout.fillWidth: true }
                PlainButton {
                    id: addTermButton
                    objectName: "addTermButton"
                    text: "Add Custom Term"
                    implicitWidth: 18
                    implicitHeight: 18
                    onClicked: addSheet.open()
                    SymbolIcon { anchors.centerIn: parent; symbol: "plus.circle.fill"; size: 16; color: Theme.accent }
                }
            }

            SearchBar {
                Layout.fillWidth: true
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                placeholderText: "Search dictionary..."
                onEdited: text => {
                    root.customTerms.searchText = text
                    root.topWords.searchText = text
                }
            }

            ColumnLayout {
                objectName: "customTermsSection"
                visible: root.customTerms.count > 0
                Layout.fillWidth: true
                spacing: 6
                Caption {
                    Layout.leftMargin: 16
                    text: "Custom Terms"
                    font.pixelSize: 12
                    font.bold: true
                    color: Theme.secondary
                }
                Repeater {
                    id: termRows
                    model: root.customTerms
                    RowLayout {
                        required property int index
                        required property string term
                        required property string replacement
                        required property string source
                        readonly property Item deleteButton: deleteTermButton
                        objectName: "termRow_" + term
                        Layout.fillWidth: true
                        Layout.leftMargin: 16
                        Layout.rightMargin: 16
                        Layout.topMargin: 4
                        Layout.bottomMargin: 4
                        spacing: 8
                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 1
                            Caption {
                                Layout.fillWidth: true
                                text: term
                                elide: Text.ElideRight
                                font.pixelSize: 13
                                font.weight: Font.DemiBold
                                color: Theme.primary
                            }
                            Caption {
                                objectName: "replacementLine"
                                Layout.fillWidth: true
                                visible: replacement.length > 0
                                text: "→ " + replacement
                                elide: Text.ElideRight
                                font.pixelSize: 11
                                color: Theme.secondary
                            }
                        }
                        Capsule {
                            objectName: "sourceCapsule"
                            text: source
                            tint: source === "manual" ? Theme.blue : Theme.green
                        }
                        PlainButton {
                            id: deleteTermButton
                            objectName: "deleteTermButton"
                            text: "Delete " + term
                            implicitWidth: 14
                            implicitHeight: 14
                            onClicked: root.deleteTerm(index)
                            SymbolIcon { anchors.centerIn: parent; symbol: "trash"; size: 11; color: Theme.alpha(Theme.red, 0.6) }
                        }
                    }
                }
            }

            ColumnLayout {
                objectName: "topWordsSection"
                visible: root.topWords.count > 0
                Layout.fillWidth: true
                Layout.bottomMargin: 16
                spacing: 6
                Caption {
                    Layout.leftMargin: 16
                    text: "Top Words"
                    font.pixelSize: 12
                    font.bold: true
                    color: Theme.secondary
                }
                Repeater {
                    model: root.topWords
                    RowLayout {
                        required property string word
                        required property int frequency
                        Layout.fillWidth: true
                        Layout.leftMargin: 16
                        Layout.rightMargin: 16
                        Layout.topMargin: 2
                        Layout.bottomMargin: 2
                        Caption { text: word; font.pixelSize: 13; color: Theme.primary }
                        Item { Layout.fillWidth: true }
                        Caption {
                            text: frequency + "x"
                            font.family: Theme.monospace
                            font.pixelSize: 11
                            font.weight: Font.Medium
                            color: Theme.tertiary
                        }
                    }
                }
            }
        }
    }

    Sheet {
        id: addSheet
        objectName: "addTermSheet"
        title: "Add Custom Term"
        width: 320
        firstField: termField

        function reset() {
            termField.clear()
            replacementField.clear()
        }

        TextBox {
            id: termField
            objectName: "termField"
            Layout.fillWidth: true
            placeholderText: "Term (e.g., 'btw')"
        }
        TextBox {
            id: replacementField
            objectName: "replacementField"
            Layout.fillWidth: true
            placeholderText: "Replacement (e.g., 'by the way')"
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
                objectName: "addButton"
                prominent: true
                text: "Add"
                enabled: termField.text.length > 0
                onClicked: {
                    // the term list reads itself again; the top words are read with it
                    root.customTerms.addTerm(termField.text, replacementField.text)
                    root.topWords.reload()
                    const added = root.rowOf(termField.text)
                    addSheet.closeFocusing(added ? added.deleteButton : null)
                    addSheet.reset()
                }
            }
        }
    }
}
