#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// The events a screen reader hears from the AT-SPI bus, recorded while the
// Qt event loop runs (libatspi dispatches through the same GLib context).
class AccessibleEvents {
public:
    struct Event {
        QString type;  // "object:state-changed:showing", ...
        int detail1 = 0;
        qint64 pid = 0;
        QString name;  // of the object it came from
        QString role;
    };

    // Starts listening to these event types.
    explicit AccessibleEvents(const QStringList &types);
    ~AccessibleEvents();
    AccessibleEvents(const AccessibleEvents &) = delete;
    AccessibleEvents &operator=(const AccessibleEvents &) = delete;

    const QList<Event> &events() const;
    void clear();

private:
    struct Listener;
    std::unique_ptr<Listener> m_listener;
};
