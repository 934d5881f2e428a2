import QtQuick
import QtQuick.Controls

// A key chord on a tinted chip; struck through when another program holds
// the chord and it does nothing here, with a warning mark where no text
// beside the chip says so.
Rectangle {
    id: chip
    property string keys
    property bool unavailable: false
    property bool showsWarning: true
    property alias font: label.font
    property color textColor: Theme.primary
    property real horizontalPadding: 10
    property real verticalPadding: 5

    readonly property string unavailableText: "Unavailable: another program uses it"

    color: Theme.alpha(Theme.secondary, 0.1)
    implicitWidth: row.implicitWidth + 2 * horizontalPadding
    implicitHeight: row.implicitHeight + 2 * verticalPadding
    Accessible.role: Accessible.StaticText
    Accessible.name: keys
    Accessible.description: unavailable && showsWarning ? unavailableText : ""
    Accessible.ignored: !visible
    ToolTip.visible: unavailable && showsWarning && hover.hovered
    ToolTip.text: unavailableText
    HoverHandler { id: hover }

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 3
        SymbolIcon {
            objectName: "chordWarning"
            visible: chip.unavailable && chip.showsWarning
            anchors.verticalCenter: parent.verticalCenter
            symbol: "exclamationmark.triangle.fill"
            size: label.font.pixelSize
            color: Theme.orange
        }
        Text {
            id: label
            text: chip.keys
            font.strikeout: chip.unavailable
            color: chip.unavailable ? Theme.secondary : chip.textColor
        }
    }
}
