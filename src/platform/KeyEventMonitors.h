#pragma once

#include "platform/KeyEventSource.h"

#include <QList>

// The monitor bookkeeping that every key event source shares: a backend only
// produces events and hands each one to deliver().
class KeyEventMonitors : public KeyEventSource {
public:
    MonitorToken addGlobalMonitor(quint64 eventMask, GlobalHandler handler) override;
    MonitorToken addLocalMonitor(quint64 eventMask, LocalHandler handler) override;
    void removeMonitor(MonitorToken token) override;
    int monitorCount() const override { return int(m_monitors.size()); }

protected:
    // Local monitors see the event while this application is active, in the
    // order they were added, until one consumes it; otherwise the global
    // monitors observe it. Returns whether it was consumed.
    bool deliver(const KeyEvent &event);

    // Called when the first monitor is added and after the last is removed.
    virtual void monitoringChanged(bool /*active*/) {}

private:
    struct Monitor {
        MonitorToken token;
        quint64 mask;
        GlobalHandler global;
        LocalHandler local;
    };

    MonitorToken add(Monitor monitor);

    QList<Monitor> m_monitors;
    MonitorToken m_nextToken = 1;
};
