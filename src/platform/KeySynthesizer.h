#pragma once

#include "platform/KeyCodes.h"

// Synthetic key presses delivered to whatever has the keyboard focus.
// Key codes and modifier flags are those of KeyCodes.h; a backend maps them
// onto its desktop's chords, so "command + V" becomes that desktop's paste
// chord.
class KeySynthesizer {
public:
    virtual ~KeySynthesizer() = default;

    // Posts a key-down then a key-up of the key with the modifiers held.
    // False, with nothing posted, when the events cannot be made (an unknown
    // key code, no display).
    virtual bool postKeyPress(quint16 keyCode, quint64 flags) = 0;
};
