#pragma once

#include <QList>
#include <QString>

#include <optional>

// An application with a top-level window on the desktop.
struct RunningApplication {
    qint64 processIdentifier = 0;
    // Its name as the desktop shows it; may be empty.
    QString localizedName;
    // Its (first) top-level window, a desktop-specific id.
    quint64 window = 0;
    // The desktop's class of that window (on X11 the WM_CLASS class).
    QString windowClass;

    friend bool operator==(const RunningApplication &, const RunningApplication &) = default;
};

// The desktop's applications: which one is in front, and bringing one there.
class Workspace {
public:
    virtual ~Workspace() = default;

    // The application whose window is active; none when no window is.
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    // Applications with windows, in the desktop's listing order, one entry
    // per process.
    virtual QList<RunningApplication> runningApplications() = 0;
    // Brings the application's window to the front with the keyboard focus;
    // false when it could not be asked.
    virtual bool activate(const RunningApplication &application) = 0;
};
