import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A small push button: filled with the accent colour when prominent,
// outlined otherwise. Faded while disabled.
Button {
    id: button
    property bool prominent: false
    property string symbol

    font.pixelSize: 11
    font.weight: Font.DemiBold
    leftPadding: 10
    rightPadding: 10
    topPadding: 4
    bottomPadding: 4
    opacity: enabled ? 1 : 0.45
    // a hidden control is not there for a screen reader either
    Accessible.ignored: !visible
    // A screen reader's Press, which the button's role lists already (a
    // handler of Accessible.pressAction would list it again). A disabled
    // control takes no action (ControlAccessibility).
    function accessiblePressAction() { clicked() }
    // Space presses it already; Enter does too
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    contentItem: RowLayout {
        spacing: 4
        SymbolIcon {
            visible: button.symbol.length > 0
            symbol: button.symbol
            size: button.font.pixelSize
            color: label.color
        }
        Text {
            id: label
            text: button.text
            font: button.font
            color: button.prominent ? "white" : Theme.primary
        }
    }
    background: Rectangle {
        implicitHeight: 20
        radius: 5
        color: button.prominent ? (button.down ? Qt.darker(Theme.accent, 1.2) : Theme.accent)
                                : Theme.alpha(Theme.secondary, button.down ? 0.22 : 0.1)
        border.width: button.prominent ? 0 : 1
        border.color: Theme.alpha(Theme.secondary, 0.25)
        FocusRing { shown: button.visualFocus }
    }
}
