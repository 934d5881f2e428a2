import QtQuick
import QtQuick.Controls

// The vertical scroll bar of a scrolling view, shown while there is more to
// scroll to.
ScrollBar {
    policy: ScrollBar.AsNeeded
    // a hidden control is not there for a screen reader either
    Accessible.ignored: !visible
}
