import QtQuick
import QtQuick.Layouts

// One carousel page: a big figure with its unit, a line, maybe a second.
Item {
    id: page
    property string figure
    property string unit
    property color tint
    property string description
    property string detail

    // a screen reader reads the page as one line
    Accessible.role: Accessible.StaticText
    Accessible.ignored: !visible
    Accessible.name: [figure + " " + unit, description, detail].filter(part => part.length > 0).join(", ")

    ColumnLayout {
        anchors.centerIn: parent
        width: parent.width - 24
        spacing: 6

        Row {
            Layout.alignment: Qt.AlignHCenter
            spacing: 4
            Text {
                id: bigFigure
                objectName: "figure"
                text: page.figure
                font.pixelSize: 42
                font.bold: true
                color: page.tint
            }
            Text {
                objectName: "unit"
                text: page.unit
                font.pixelSize: 24
                font.bold: true
                color: Theme.alpha(page.tint, 0.8)
                // on the figure's baseline
                y: bigFigure.baselineOffset - baselineOffset
            }
        }
        Text {
            objectName: "description"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: page.description
            font.pixelSize: 13
            font.weight: Font.Medium
            color: Theme.secondary
        }
        Text {
            objectName: "detail"
            visible: page.detail.length > 0
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: page.detail
            font.pixelSize: 12
            font.weight: Font.DemiBold
            color: Theme.secondary
        }
    }
}
