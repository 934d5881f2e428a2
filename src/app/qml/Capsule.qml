import QtQuick

// A short bold text on a capsule tinted with its colour.
Rectangle {
    id: capsule
    property alias text: label.text
    property color tint: Theme.accent
    property real fillOpacity: 0.1
    property real fontSize: 9
    property real horizontalPadding: 6
    property real verticalPadding: 2

    radius: height / 2
    color: Theme.alpha(tint, fillOpacity)
    implicitWidth: label.implicitWidth + 2 * horizontalPadding
    implicitHeight: label.implicitHeight + 2 * verticalPadding

    Caption {
        id: label
        anchors.centerIn: parent
        font.pixelSize: capsule.fontSize
        font.bold: true
        color: capsule.tint
    }
}
