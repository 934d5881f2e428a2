import QtQuick

// Lets its parent, a text or an indicator, hold the keyboard focus that a
// control hands it as the control greys or goes, so the focus never falls to
// nothing. Ringed as a control is, but not when a mouse press handed it on.
// When the parent goes in turn, the focus moves on to the first control
// after `after`. The parent is reached with Tab where it sets
// activeFocusOnTab.
FocusRing {
    id: holder
    required property Item after
    property bool byMouse: false

    shown: parent.activeFocus && !byMouse

    function take(reason) {
        byMouse = reason === Qt.MouseFocusReason
        parent.forceActiveFocus(reason)
    }

    // Qt's own walk goes astray from an item that has just hidden: it starts
    // from `after`, past everything inside it.
    function controlAfter() {
        const inside = item => {
            for (let up = item; up; up = up.parent) {
                if (up === after)
                    return true
            }
            return false
        }
        let next = after.nextItemInFocusChain(true)
        for (let step = 0; next && inside(next) && step < 100; ++step)
            next = next.nextItemInFocusChain(true)
        return next
    }

    Connections {
        target: holder.parent
        function onActiveFocusChanged() {
            if (!holder.parent.activeFocus)
                holder.byMouse = false
        }
        function onVisibleChanged() {
            if (holder.parent.visible || !holder.parent.activeFocus)
                return
            const reason = holder.byMouse ? Qt.MouseFocusReason : Qt.TabFocusReason
            const next = holder.controlAfter()
            if (next)
                next.forceActiveFocus(reason)
        }
    }
}
