import QtQuick

// A text the user reads, and a screen reader with them: Qt Quick gives a
// plain Text no place on the accessibility bus. Texts inside a control stay
// plain Text, the control's name saying them already.
Text {
    Accessible.role: Accessible.StaticText
    Accessible.name: text
    // a hidden text is not there for a screen reader either
    Accessible.ignored: !visible
}
