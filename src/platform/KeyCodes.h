#pragma once

#include <QtGlobal>

// The one key vocabulary of key events, chords and synthetic presses: ANSI
// virtual key codes and modifier-flag bits. Backends map them onto their
// desktop's keys.
namespace Key {
inline constexpr quint16 s = 1;
inline constexpr quint16 c = 8;
inline constexpr quint16 v = 9;
inline constexpr quint16 r = 15;
inline constexpr quint16 space = 49;
} // namespace Key

namespace ModifierFlag {
inline constexpr quint64 capsLock = 0x10000;
inline constexpr quint64 shift = 0x20000;
inline constexpr quint64 control = 0x40000;
inline constexpr quint64 option = 0x80000;
inline constexpr quint64 command = 0x100000;
inline constexpr quint64 function = 0x800000;
} // namespace ModifierFlag
