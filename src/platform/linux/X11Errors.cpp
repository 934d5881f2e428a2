#include "X11Errors.h"

#include "support/Log.h"

#include <X11/Xlib.h>

namespace {
// Errors arrive on the thread whose request or sync reads them.
thread_local X11ErrorTrap *t_trap = nullptr;
} // namespace

class X11ErrorHandler {
public:
    static int handle(Display *display, XErrorEvent *error);
};

int X11ErrorHandler::handle(Display *display, XErrorEvent *error)
{
    for (X11ErrorTrap *trap = t_trap; trap; trap = trap->m_outer) {
        if (trap->m_display == display) {
            if (trap->m_errorCode == Success)
                trap->m_errorCode = error->error_code;
            return 0;
        }
    }
    char text[128] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    logLine("X11", QStringLiteral("A request failed and was ignored: %1 (request %2.%3, resource 0x%4)")
                       .arg(QString::fromLocal8Bit(text))
                       .arg(error->request_code)
                       .arg(error->minor_code)
                       .arg(error->resourceid, 0, 16));
    return 0;
}

Display *openX11Display()
{
    // Again at each open: a library may have put its own in since.
    XSetErrorHandler(X11ErrorHandler::handle);
    return XOpenDisplay(nullptr);
}

X11ErrorTrap::X11ErrorTrap(Display *display)
    : m_display(display)
    , m_outer(t_trap)
{
    // ours must be the one in place to catch anything
    XSetErrorHandler(X11ErrorHandler::handle);
    t_trap = this;
}

X11ErrorTrap::~X11ErrorTrap()
{
    t_trap = m_outer;
}
