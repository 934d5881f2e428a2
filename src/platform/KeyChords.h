#pragma once

#include "platform/KeyEventSource.h"

#include <array>

// The application's global chords: the label the interface shows for each
// and the key code and flags the key event source reports it as.
struct KeyChord {
    const char *label;
    quint16 keyCode;
    quint64 modifierFlags;
};

namespace KeyChords {
using Flag = KeyEventSource::ModifierFlag;

inline constexpr KeyChord hold{"Alt Space", KeyEventSource::spaceKeyCode, Flag::option};
inline constexpr KeyChord toggle{"Super Space", KeyEventSource::spaceKeyCode, Flag::function};
inline constexpr KeyChord fallbackPaste{"Ctrl Alt V", KeyEventSource::vKeyCode, Flag::command | Flag::control};
inline constexpr KeyChord summarizeAndSpeak{"Ctrl Alt S", KeyEventSource::sKeyCode, Flag::command | Flag::control};
inline constexpr KeyChord speakAgain{"Ctrl Alt R", KeyEventSource::rKeyCode, Flag::command | Flag::control};

inline constexpr std::array<KeyChord, 5> all{hold, toggle, fallbackPaste, summarizeAndSpeak, speakAgain};
} // namespace KeyChords
