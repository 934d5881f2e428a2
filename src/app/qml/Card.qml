import QtQuick
import QtQuick.Layouts

// A rounded card: fill, optional 1 px outline, padded column of content.
Rectangle {
    id: card
    property real padding: 10
    property alias spacing: column.spacing
    property color strokeColor: "transparent"
    default property alias content: column.data

    radius: 10
    border.width: strokeColor.a > 0 ? 1 : 0
    border.color: strokeColor
    implicitWidth: column.implicitWidth + 2 * padding
    implicitHeight: column.implicitHeight + 2 * padding

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: card.padding
        spacing: 6
    }
}
