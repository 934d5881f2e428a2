import QtQuick

// A borderless clickable area around its content.
Item {
    id: button
    signal clicked()
    default property alias content: holder.data
    readonly property bool hovered: area.containsMouse
    implicitWidth: holder.childrenRect.width
    implicitHeight: holder.childrenRect.height

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
