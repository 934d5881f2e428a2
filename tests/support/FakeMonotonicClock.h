#pragma once

#include "support/MonotonicClock.h"

#include <QPointer>

#include <vector>

// Time moves only when the test advances it; due actions run in deadline order.
class FakeMonotonicClock : public MonotonicClock {
public:
    explicit FakeMonotonicClock(Duration start = std::chrono::hours(1))
        : m_now(start)
    {
    }

    Duration now() const override { return m_now; }
    void callAfter(Duration delay, QObject *context, std::function<void()> action) override;

    // Moves time forward, running every action that falls due on the way at its
    // own deadline (actions may schedule further actions).
    void advance(Duration by);
    int pendingCount() const;

private:
    struct Pending {
        Duration due;
        quint64 order;
        QPointer<QObject> context;
        std::function<void()> action;
    };
    bool runNextDueBy(Duration limit);

    Duration m_now;
    quint64 m_nextOrder = 0;
    std::vector<Pending> m_pending;
};

// Takes every wait at once, from the event loop, and remembers its length in
// whole seconds.
class InstantMonotonicClock : public FakeMonotonicClock {
public:
    void callAfter(Duration delay, QObject *context, std::function<void()> action) override
    {
        waits.append(int(std::chrono::duration_cast<std::chrono::seconds>(delay).count()));
        QMetaObject::invokeMethod(context, std::move(action), Qt::QueuedConnection);
    }
    QList<int> waits;
};
