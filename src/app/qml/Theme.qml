pragma Singleton
import QtQuick

// The interface's semantic colours and fonts, light or dark after the
// desktop's palette. Opacities are applied where used: Theme.alpha(c, 0.1).
QtObject {
    readonly property SystemPalette system: SystemPalette {}
    readonly property bool dark: system.window.hslLightness < 0.5

    readonly property color primary: dark ? Qt.rgba(1, 1, 1, 0.85) : Qt.rgba(0, 0, 0, 0.85)
    readonly property color secondary: dark ? Qt.rgba(1, 1, 1, 0.55) : Qt.rgba(0, 0, 0, 0.5)
    readonly property color tertiary: dark ? Qt.rgba(1, 1, 1, 0.25) : Qt.rgba(0, 0, 0, 0.26)
    readonly property color accent: blue
    readonly property color red: dark ? "#ff453a" : "#ff3b30"
    readonly property color green: dark ? "#30d158" : "#28a745"
    readonly property color blue: dark ? "#0a84ff" : "#007aff"
    readonly property color orange: dark ? "#ff9f0a" : "#f08c00"
    readonly property color purple: dark ? "#bf5af2" : "#af52de"
    readonly property color cyan: dark ? "#64d2ff" : "#1c9fd6"
    readonly property color grey: dark ? "#98989d" : "#8e8e93"

    // Window backgrounds; the floating panel is see-through only where a
    // compositor blends it.
    readonly property color window: dark ? "#242426" : "#f6f6f7"
    function panel(translucent) {
        return dark ? Qt.rgba(0.14, 0.14, 0.15, translucent ? 0.86 : 1)
                    : Qt.rgba(0.975, 0.975, 0.98, translucent ? 0.88 : 1)
    }

    // Sizes in the views are logical pixels for geometry and fonts alike, so
    // text keeps its proportion to the 380 x 560 window.
    readonly property string monospace: "monospace"
    readonly property string emoji: "Noto Color Emoji"

    function alpha(c, opacity) {
        return Qt.rgba(c.r, c.g, c.b, c.a * opacity)
    }
    // "red", "blue", ... as the view models name them.
    function named(name) {
        return this[name] !== undefined ? this[name] : primary
    }
}
