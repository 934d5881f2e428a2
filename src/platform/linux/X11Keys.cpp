#include "X11Keys.h"

#include "platform/KeyCodes.h"

#include <X11/X.h>
#include <X11/keysym.h>

unsigned long x11KeysymFor(quint16 keyCode)
{
    switch (keyCode) {
    case Key::s:
        return XK_s;
    case Key::c:
        return XK_c;
    case Key::v:
        return XK_v;
    case Key::r:
        return XK_r;
    case Key::space:
        return XK_space;
    default:
        return NoSymbol;
    }
}
