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
                Text { text: "Dictionary"; font.pixelSize: 16; font.bold: true; color: Theme.primary }
                Item { Layout.fillWidth: true }
                PlainButton {
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
                Text {
                    Layout.leftMargin: 16
                    text: "Custom Terms"
                    font.pixelSize: 12
                    font.bold: true
                    color: Theme.secondary
                }
                Repeater {
                    model: root.customTerms
                    RowLayout {
                        required property string term
                        required property string replacement
                        required property string source
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
                            Text {
                                Layout.fillWidth: true
                                text: term
                                elide: Text.ElideRight
                                font.pixelSize: 13
                                font.weight: Font.DemiBold
                                color: Theme.primary
                            }
                            Text {
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
                            objectName: "deleteTermButton"
                            text: "Delete " + term
                            implicitWidth: 14
                            implicitHeight: 14
                            onClicked: {
                                root.customTerms.removeTerm(term)
                                root.topWords.reload()
                            }
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
                Text {
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
                        Text { text: word; font.pixelSize: 13; color: Theme.primary }
                        Item { Layout.fillWidth: true }
                        Text {
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
                    addSheet.close()
                    addSheet.reset()
                }
            }
        }
    }
}
