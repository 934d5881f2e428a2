import QtQuick

// An icon named by its SF Symbol name, drawn from the icon theme in one colour.
Item {
    id: icon
    property string symbol
    property color color: Theme.primary
    property real size: 16

    implicitWidth: size
    implicitHeight: size

    Image {
        anchors.fill: parent
        sourceSize: Qt.size(Math.ceil(icon.size * 2), Math.ceil(icon.size * 2))
        fillMode: Image.PreserveAspectFit
        smooth: true
        source: icon.symbol.length > 0
                ? "image://symbol/" + icon.symbol + "/" + icon.color.toString().substring(1) : ""
    }
}
