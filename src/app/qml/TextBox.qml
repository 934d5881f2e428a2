import QtQuick
import QtQuick.Controls

// A one-line text field in the module's rounded frame.
TextField {
    id: field
    font.pixelSize: 13
    color: Theme.primary
    placeholderTextColor: Theme.tertiary
    selectionColor: Theme.alpha(Theme.accent, 0.35)
    selectedTextColor: Theme.primary
    leftPadding: 8
    rightPadding: 8
    topPadding: 5
    bottomPadding: 5
    Accessible.name: placeholderText
    // a hidden control is not there for a screen reader either
    Accessible.ignored: !visible
    background: FieldFrame { focused: field.activeFocus }
}
