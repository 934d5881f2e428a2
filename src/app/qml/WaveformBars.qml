import QtQuick

// Five bars that follow the microphone level, growing left to right.
Item {
    id: bars
    property var heights: [3, 3, 3, 3, 3]
    implicitWidth: 48
    implicitHeight: 20

    Row {
        anchors.centerIn: parent
        spacing: 2
        Repeater {
            model: 5
            Rectangle {
                objectName: "waveformBar"
                anchors.verticalCenter: parent.verticalCenter
                width: 3
                height: bars.heights[index] || 3
                radius: 1
                color: Theme.alpha(Theme.accent, 0.8)
                Behavior on height { NumberAnimation { duration: 120; easing.type: Easing.InOutQuad } }
            }
        }
    }
}
