#include "platform/linux/X11Workspaces.h"

#include <QGuiApplication>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <vector>

void x11ShowOnEveryWorkspace(unsigned long window)
{
    // The toolkit's own connection: these requests follow its map in order.
    // Without one the window is no X window at all (Qt on another platform).
    const auto *toolkit = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display *const display = toolkit ? toolkit->display() : nullptr;
    if (!display)
        return;
    const long allDesktops = 0xFFFFFFFF;
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_DESKTOP", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char *>(&allDesktops), 1);

    // Added to the states already there: the toolkit merges its own in too.
    const Atom stateAtom = XInternAtom(display, "_NET_WM_STATE", False);
    const Atom sticky = XInternAtom(display, "_NET_WM_STATE_STICKY", False);
    std::vector<Atom> states;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, stateAtom, 0, 1024, False, XA_ATOM, &type, &format, &count, &after, &data)
            == Success
        && data) {
        if (type == XA_ATOM && format == 32) {
            const auto *atoms = reinterpret_cast<const Atom *>(data);
            states.assign(atoms, atoms + count);
        }
        XFree(data);
    }
    if (std::find(states.cbegin(), states.cend(), sticky) == states.cend()) {
        states.push_back(sticky);
        XChangeProperty(display, window, stateAtom, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(states.data()), int(states.size()));
    }
    // The requests a managed window needs, in case the manager took the
    // window over before it saw the hints, or dropped them at a withdrawal
    // it handled only now.
    const auto request = [&](const char *messageType, long first, long second) {
        XEvent event = {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, messageType, False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = first;
        event.xclient.data.l[1] = second;
        event.xclient.data.l[2] = 0;
        event.xclient.data.l[3] = 1; // from an application
        XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
    };
    request("_NET_WM_DESKTOP", allDesktops, 1);
    const long add = 1;
    request("_NET_WM_STATE", add, long(sticky));

    XFlush(display);
}
