import QtQuick
import QtQuick.Controls
import Tavrune.Ui

// A drop-down choice among items of "text" and "value" (and "header" for
// section titles that cannot be chosen). Shows the item whose value is
// `value`, nothing when none has it, and reports the user's choice. As wide
// as its widest item, so no choice is cut short where there is room.
ComboBox {
    id: picker
    // what the picker chooses, its name for a screen reader
    property string label
    property var items: []
    property string value
    signal picked(string value)

    model: items
    textRole: "text"
    currentIndex: SettingsChoices.indexOfValue(items, value)
    font.pixelSize: 12
    implicitWidth: Math.ceil(widestText()) + leftPadding + rightPadding
    implicitHeight: 24
    leftPadding: 8
    rightPadding: 8 + indicator.width + spacing
    spacing: 6
    // Qt Quick gives a picker no value text of its own: the choice is read
    // as its description
    Accessible.name: label
    Accessible.description: displayText
    Accessible.ignored: !visible
    // A screen reader's Press opens the list or closes it. The keys the
    // list then waits for go to the picker, as after a click, which comes
    // into view as the keyboard's focus does.
    Accessible.onPressAction: {
        if (popup.visible) {
            popup.close()
            return
        }
        Window.window.requestActivate()
        forceActiveFocus(Qt.TabFocusReason)
        popup.open()
    }
    // the arrows move through the open list while the keys stay here: a
    // screen reader follows the highlighted item instead
    onHighlightedIndexChanged: if (popup.opened) reportHighlighted()
    function reportHighlighted() {
        const item = list.itemAtIndex(highlightedIndex)
        if (item)
            AccessibleFocus.moveTo(item)
    }
    function widestText() {
        return items.reduce((widest, item) => Math.max(widest, metrics.advanceWidth(item.text)), 0)
    }
    FontMetrics { id: metrics; font: picker.font }
    onActivated: index => {
        picked(items[index].value)
        currentIndex = Qt.binding(() => SettingsChoices.indexOfValue(picker.items, picker.value))
    }

    contentItem: Text {
        text: picker.displayText
        font: picker.font
        color: Theme.primary
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
    indicator: SymbolIcon {
        x: picker.width - width - 8
        y: (picker.height - height) / 2
        symbol: "chevron.down"
        size: 10
        color: Theme.secondary
    }
    background: FieldFrame {
        focused: picker.visualFocus || picker.popup.visible
        fill: Theme.alpha(Theme.secondary, picker.down ? 0.18 : 0.1)
    }
    popup: Popup {
        y: picker.height + 2
        width: picker.width
        implicitHeight: Math.min(list.contentHeight + 8, 300)
        padding: 4
        // On the accessibility bus the open list, named after its picker: set
        // on the popup's own item (a popup takes no Accessible of its own),
        // each time, as Qt Quick makes it a dialog again once it is on the bus.
        onAboutToShow: {
            list.parent.Accessible.role = Accessible.List
            list.parent.Accessible.name = picker.label
        }
        onOpened: picker.reportHighlighted()
        // back on the picker, which now reads its choice
        onClosed: if (picker.activeFocus) AccessibleFocus.moveTo(picker)
        contentItem: ListView {
            id: list
            clip: true
            model: picker.delegateModel
            currentIndex: picker.highlightedIndex
            ScrollIndicator.vertical: ScrollIndicator { Accessible.ignored: true }
        }
        background: Rectangle {
            radius: 6
            color: Theme.window
            border.width: 1
            border.color: Theme.alpha(Theme.primary, 0.15)
        }
    }

    delegate: ItemDelegate {
        required property var modelData
        required property int index
        objectName: "pickerItem_" + modelData.text
        // its name on the accessibility bus
        text: modelData.text
        Accessible.focused: highlighted && picker.popup.opened
        width: ListView.view ? ListView.view.width : implicitWidth
        enabled: modelData.header !== true
        highlighted: picker.highlightedIndex === index
        padding: 6
        leftPadding: 8
        contentItem: Text {
            text: modelData.text
            font.pixelSize: modelData.header === true ? 10 : 12
            font.bold: modelData.header === true
            color: highlighted ? "white" : modelData.header === true ? Theme.secondary : Theme.primary
            elide: Text.ElideRight
        }
        background: Rectangle {
            radius: 4
            color: highlighted ? Theme.accent : "transparent"
        }
    }
}
