import QtQuick

// Holds a tab's place until its view exists.
Item {
    property string title
    Text {
        anchors.centerIn: parent
        text: parent.title
        font.pixelSize: 13
        font.weight: Font.Medium
        color: Theme.tertiary
    }
}
