import QtQuick

Rectangle {
    implicitHeight: 1
    color: Theme.alpha(Theme.primary, 0.1)
}
