import QtQuick
import QtQuick.Layouts

// One titled card of the settings: the title in capitals over a rounded card
// holding the rows.
ColumnLayout {
    id: section
    property string title
    default property alias content: card.content

    spacing: 10
    Caption {
        Layout.leftMargin: 16
        text: section.title.toUpperCase()
        font.pixelSize: 10
        font.bold: true
        color: Theme.tertiary
    }
    Card {
        id: card
        Layout.fillWidth: true
        Layout.leftMargin: 16
        Layout.rightMargin: 16
        padding: 12
        spacing: 8
        color: Theme.alpha(Theme.secondary, 0.04)
    }
}
