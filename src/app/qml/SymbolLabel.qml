import QtQuick
import QtQuick.Layouts

// A text led by its icon, as the settings rows label themselves.
RowLayout {
    id: label
    property string symbol
    property alias text: caption.text
    property real fontSize: 13
    property int weight: Font.Normal
    property color color: Theme.primary

    spacing: 6
    SymbolIcon {
        visible: label.symbol.length > 0
        symbol: label.symbol
        size: label.fontSize
        color: label.color
    }
    Caption {
        id: caption
        font.pixelSize: label.fontSize
        font.weight: label.weight
        color: label.color
    }
}
