import QtQuick

// Scrolls the flickable so that an item inside it that Tab, Backtab or a
// screen reader gives the keyboard focus lies wholly in view, its focus
// ring included.
Item {
    id: follower
    required property Flickable flickable
    property real margin: 8

    Connections {
        target: follower.Window
        function onActiveFocusItemChanged() {
            // once the focus reason is set and the layouts have settled
            Qt.callLater(follower.reveal)
        }
    }

    function reveal() {
        // The control that has the focus: a control such as the statistics'
        // pages hands it on to an item inside it, which knows no reason.
        let item = Window.activeFocusItem
        while (item && item.focusReason === undefined)
            item = item.parent
        // from the keyboard, or a screen reader moving it (ControlAccessibility)
        if (!item || (item.focusReason !== Qt.TabFocusReason && item.focusReason !== Qt.BacktabFocusReason
                      && item.focusReason !== Qt.ShortcutFocusReason))
            return
        let inside = item.parent
        while (inside && inside !== flickable.contentItem)
            inside = inside.parent
        if (!inside)
            return
        const area = item.mapToItem(flickable.contentItem, 0, 0, item.width, item.height)
        const top = area.y - margin
        const bottom = area.y + area.height + margin
        if (top < flickable.contentY)
            flickable.contentY = Math.max(top, flickable.originY)
        else if (bottom > flickable.contentY + flickable.height)
            flickable.contentY = Math.min(bottom - flickable.height,
                                          flickable.originY + flickable.contentHeight - flickable.height)
    }
}
