#include "KeyEventMonitors.h"

#include <algorithm>

KeyEventSource::MonitorToken KeyEventMonitors::addGlobalMonitor(quint64 eventMask, GlobalHandler handler)
{
    return add({0, eventMask, std::move(handler), {}});
}

KeyEventSource::MonitorToken KeyEventMonitors::addLocalMonitor(quint64 eventMask, LocalHandler handler)
{
    return add({0, eventMask, {}, std::move(handler)});
}

KeyEventSource::MonitorToken KeyEventMonitors::add(Monitor monitor)
{
    monitor.token = m_nextToken++;
    m_monitors.append(std::move(monitor));
    if (m_monitors.size() == 1)
        monitoringChanged(true);
    return m_monitors.last().token;
}

void KeyEventMonitors::removeMonitor(MonitorToken token)
{
    const auto removed = m_monitors.removeIf([token](const Monitor &m) { return m.token == token; });
    if (removed > 0 && m_monitors.isEmpty())
        monitoringChanged(false);
}

bool KeyEventMonitors::deliver(const KeyEvent &event)
{
    const quint64 bit = maskFor(event.type);
    const bool local = isActiveApplication();
    // A handler may add or remove monitors: walk a snapshot and skip any
    // monitor removed meanwhile.
    const QList<Monitor> monitors = m_monitors;
    for (const Monitor &m : monitors) {
        if (!(m.mask & bit))
            continue;
        const bool stillInstalled = std::any_of(m_monitors.cbegin(), m_monitors.cend(),
                                                [&](const Monitor &current) { return current.token == m.token; });
        if (!stillInstalled)
            continue;
        if (local && m.local && m.local(event))
            return true;
        if (!local && m.global)
            m.global(event);
    }
    return false;
}
