#include "EwmhWorkspace.h"

#include "X11Connection.h"

#include <QFile>
#include <QSet>

#include <X11/Xlib.h>

EwmhWorkspace::EwmhWorkspace(X11Connection &x11)
    : m_x11(x11)
{
}

std::optional<RunningApplication> EwmhWorkspace::applicationOf(unsigned long window)
{
    const auto pid = m_x11.cardinalProperty(window, "_NET_WM_PID");
    if (!pid || *pid <= 0)
        return std::nullopt;
    RunningApplication app;
    app.processIdentifier = *pid;
    app.window = window;
    if (const auto windowClass = m_x11.windowClass(window)) {
        app.windowClass = windowClass->second;
        app.localizedName = windowClass->second;
    }
    if (app.localizedName.isEmpty()) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(*pid));
        if (comm.open(QIODevice::ReadOnly))
            app.localizedName = QString::fromLocal8Bit(comm.readAll()).trimmed();
    }
    return app;
}

std::optional<RunningApplication> EwmhWorkspace::frontmostApplication()
{
    Display *dpy = m_x11.display();
    if (!dpy)
        return std::nullopt;
    std::optional<unsigned long> active = m_x11.windowProperty(m_x11.rootWindow(), "_NET_ACTIVE_WINDOW");
    if (!active || *active == 0) {
        // no window manager: the focus window, raised to its top-level
        Window focus = None;
        int revert = 0;
        XGetInputFocus(dpy, &focus, &revert);
        if (focus == None || focus == PointerRoot)
            return std::nullopt;
        Window root = None, parent = None, *children = nullptr;
        unsigned int count = 0;
        while (XQueryTree(dpy, focus, &root, &parent, &children, &count)) {
            if (children)
                XFree(children);
            if (parent == root || parent == None)
                break;
            focus = parent;
        }
        active = focus;
    }
    return applicationOf(*active);
}

QList<RunningApplication> EwmhWorkspace::runningApplications()
{
    QList<RunningApplication> apps;
    QSet<qint64> seen;
    for (unsigned long window : m_x11.windowListProperty(m_x11.rootWindow(), "_NET_CLIENT_LIST")) {
        const auto app = applicationOf(window);
        if (app && !seen.contains(app->processIdentifier)) {
            seen.insert(app->processIdentifier);
            apps << *app;
        }
    }
    return apps;
}

bool EwmhWorkspace::activate(const RunningApplication &application)
{
    Display *dpy = m_x11.display();
    if (!dpy || !application.window)
        return false;
    const Window window = application.window;
    if (m_x11.hasWindowManager()) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = m_x11.atom("_NET_ACTIVE_WINDOW");
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // from a pager: honoured without focus-stealing checks
        event.xclient.data.l[1] = CurrentTime;
        if (!XSendEvent(dpy, m_x11.rootWindow(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event))
            return false;
    } else {
        XRaiseWindow(dpy, window);
        XSetInputFocus(dpy, window, RevertToParent, CurrentTime);
    }
    XSync(dpy, False);
    return true;
}
