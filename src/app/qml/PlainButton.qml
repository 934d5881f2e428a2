import QtQuick

// A borderless clickable area around its content; users give its implicit size.
Item {
    id: button
    signal clicked()
    default property alias content: holder.data
    readonly property bool hovered: area.containsMouse

    Item {
        id: holder
        anchors.fill: parent
    }
    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: button.clicked()
    }
}
