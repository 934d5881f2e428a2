#pragma once

#include <QtGlobal>

// Synthetic key presses delivered to whatever has the keyboard focus.
// Key codes and modifier masks are the pipeline's own vocabulary (the key
// codes of the hotkey service); a backend maps them onto its desktop's
// chords, so "command + V" becomes that desktop's paste chord.
class KeySynthesizer {
public:
    enum Key : quint16 { keyC = 8, keyV = 9 };
    enum Modifier : quint64 {
        maskShift = 0x20000,
        maskControl = 0x40000,
        maskAlternate = 0x80000,
        maskCommand = 0x100000,
    };

    virtual ~KeySynthesizer() = default;

    // Posts a key-down then a key-up of the key with the modifiers held.
    // False, with nothing posted, when the events cannot be made (an unknown
    // key code, no display).
    virtual bool postKeyPress(quint16 keyCode, quint64 flags) = 0;
};
