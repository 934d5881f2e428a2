#pragma once

#include <QtGlobal>

// The keysym of each key code of KeyCodes.h; NoSymbol (0) for any other.
unsigned long x11KeysymFor(quint16 keyCode);

