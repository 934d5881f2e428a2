#pragma once

#include "platform/KeySynthesizer.h"

#include <QString>

#include <chrono>

class Workspace;
class X11Connection;

// Key presses through the XTest extension. Command maps to Control, so the
// paste key is Ctrl+V, and Ctrl+Shift+V when a terminal is in front.
// Waits first for the user to let go of the chord that got us here: its
// modifiers, or the target would see Ctrl+Alt+V, and its key, whose grab
// would take the paste key for us.
class XTestKeySynthesizer : public KeySynthesizer {
public:
    XTestKeySynthesizer(X11Connection &x11, Workspace &workspace);

    bool postKeyPress(quint16 keyCode, quint64 flags) override;

    // Whether a window of this class is a terminal emulator.
    static bool isTerminalClass(const QString &windowClass);

    // Longest wait for the user's chord before its keys are released for him.
    static constexpr std::chrono::milliseconds chordReleaseLimit{1000};

private:
    void waitForChordReleased();

    X11Connection &m_x11;
    Workspace &m_workspace;
};
