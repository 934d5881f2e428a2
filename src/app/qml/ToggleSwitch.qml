import QtQuick
import QtQuick.Controls

// An on/off switch that shows `value` and reports only the user's changes,
// so showing a value never acts on it.
Switch {
    id: toggle
    property bool value
    signal changedByUser(bool value)

    checked: value
    padding: 0
    implicitWidth: 32
    implicitHeight: 18
    // a hidden control is not there for a screen reader either
    Accessible.ignored: !visible
    // Space flips it already; Enter does too
    Keys.onReturnPressed: toggle.toggle()
    Keys.onEnterPressed: toggle.toggle()
    // What flips it, a click, a key or a screen reader's toggle action, is the
    // user's change; a screen reader's toggle reports no toggled().
    onCheckedChanged: {
        if (checked === value)
            return
        changedByUser(checked)
        checked = Qt.binding(() => toggle.value)
    }
    indicator: Rectangle {
        x: 0
        y: (toggle.height - height) / 2
        implicitWidth: 32
        implicitHeight: 18
        radius: 9
        color: toggle.checked ? Theme.accent : Theme.alpha(Theme.secondary, 0.3)
        Behavior on color { ColorAnimation { duration: 120 } }
        FocusRing { shown: toggle.visualFocus }
        Rectangle {
            width: 14
            height: 14
            radius: 7
            y: 2
            x: toggle.checked ? parent.width - width - 2 : 2
            color: "white"
            Behavior on x { NumberAnimation { duration: 120 } }
        }
    }
    // the text names the switch on the accessibility bus; its row shows the label
    contentItem: Item {}
}
