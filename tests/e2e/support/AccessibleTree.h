#pragma once

#include <QList>
#include <QRect>
#include <QStringList>
#include <QString>

#include <optional>

// An application's objects as a screen reader finds them on the AT-SPI bus.
class AccessibleTree {
public:
    struct Object {
        QString name;
        QString role;        // AT-SPI's role name: "push button", "dialog", ...
        QString description;
        // Where it is on the screen; objects that are not on it have no place.
        std::optional<QRect> extents;
        int depth = 0;
        bool showing = false;
        bool focused = false;
        bool selected = false; // or checked
        bool actionable = false; // has an action besides taking the focus
        bool enabled = false;    // enabled and sensitive: a user can act on it
        QStringList actions;     // the names of its actions, as listed
    };

    // Everything the process shows, depth first; empty when it is not on the bus.
    static QList<Object> of(qint64 pid);
    // The window of the process with this title, and all it holds, while it
    // is on screen; empty otherwise.
    static QList<Object> window(qint64 pid, const QString &title);
    // The first object of this role whose name is exactly name; nullptr if none.
    static const Object *find(const QList<Object> &tree, const QString &name, const QString &role = {});
    // Runs the first action (Press, Toggle, ...) of the first object of this
    // name and role.
    static bool act(qint64 pid, const QString &name, const QString &role);
    // The object of the window that holds the keyboard focus; nullopt if none.
    static std::optional<Object> focused(qint64 pid, const QString &window);
    // Moves the keyboard focus to the first object of this name and role, as
    // a screen reader does (the component's GrabFocus).
    static bool grabFocus(qint64 pid, const QString &name, const QString &role);
};
