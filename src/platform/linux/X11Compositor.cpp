#include "platform/linux/X11Compositor.h"

#include "platform/linux/X11Errors.h"

#include <X11/Xlib.h>

#include <string>

bool x11CompositorRunning()
{
    Display *display = openX11Display();
    if (!display)
        return false;
    const std::string selection = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
    const Atom atom = XInternAtom(display, selection.c_str(), False);
    const bool running = XGetSelectionOwner(display, atom) != None;
    XCloseDisplay(display);
    return running;
}
