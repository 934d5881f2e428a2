#pragma once

#include "platform/Workspace.h"

class X11Connection;

// Applications as an EWMH window manager lists them: the active window, the
// client list, each window's _NET_WM_PID, and activation by request.
class EwmhWorkspace : public Workspace {
public:
    explicit EwmhWorkspace(X11Connection &x11);

    std::optional<RunningApplication> frontmostApplication() override;
    QList<RunningApplication> runningApplications() override;
    bool activate(const RunningApplication &application) override;

private:
    std::optional<RunningApplication> applicationOf(unsigned long window);

    X11Connection &m_x11;
};
