import QtQuick
import QtQuick.Controls
import Tavrune.Ui

// A drop-down choice among items of "text" and "value" (and "header" for
// section titles that cannot be chosen). Shows the item whose value is
// `value`, nothing when none has it, and reports the user's choice.
ComboBox {
    id: picker
    property var items: []
    property string value
    signal picked(string value)

    model: items
    textRole: "text"
    currentIndex: SettingsChoices.indexOfValue(items, value)
    font.pixelSize: 12
    implicitHeight: 24
    onActivated: index => {
        picked(items[index].value)
        currentIndex = Qt.binding(() => SettingsChoices.indexOfValue(picker.items, picker.value))
    }

    delegate: ItemDelegate {
        required property var modelData
        required property int index
        objectName: "pickerItem_" + modelData.text
        width: ListView.view ? ListView.view.width : implicitWidth
        enabled: modelData.header !== true
        highlighted: picker.highlightedIndex === index
        contentItem: Text {
            text: modelData.text
            font.pixelSize: modelData.header === true ? 10 : 12
            font.bold: modelData.header === true
            color: modelData.header === true ? Theme.secondary : Theme.primary
            elide: Text.ElideRight
        }
    }
}
