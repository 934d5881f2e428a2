#pragma once

#include "platform/KeyCodes.h"

#include <array>

// The application's global chords: the label the interface shows for each
// and the key code and flags the key event source reports it as.
struct KeyChord {
    const char *label;
    quint16 keyCode;
    quint64 modifierFlags;
};

namespace KeyChords {
namespace Flag = ModifierFlag;

inline constexpr KeyChord hold{"Alt Space", Key::space, Flag::option};
inline constexpr KeyChord toggle{"Super Space", Key::space, Flag::function};
inline constexpr KeyChord fallbackPaste{"Ctrl Alt V", Key::v, Flag::command | Flag::control};
inline constexpr KeyChord summarizeAndSpeak{"Ctrl Alt S", Key::s, Flag::command | Flag::control};
inline constexpr KeyChord speakAgain{"Ctrl Alt R", Key::r, Flag::command | Flag::control};

inline constexpr std::array<KeyChord, 5> all{hold, toggle, fallbackPaste, summarizeAndSpeak, speakAgain};
} // namespace KeyChords
