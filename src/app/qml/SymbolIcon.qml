import QtQuick

// An icon named by its SF Symbol name, drawn from the icon theme in one colour.
Image {
    property string symbol
    property color color: Theme.primary
    property real size: 16

    width: size
    height: size
    sourceSize: Qt.size(Math.ceil(size * 2), Math.ceil(size * 2))
    fillMode: Image.PreserveAspectFit
    smooth: true
    source: symbol.length > 0 ? "image://symbol/" + symbol + "/" + color.toString().substring(1) : ""
}
