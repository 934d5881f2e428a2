#include "FakeMonotonicClock.h"

#include <algorithm>

void FakeMonotonicClock::callAfter(Duration delay, QObject *context, std::function<void()> action)
{
    m_pending.push_back({ m_now + std::max(delay, Duration::zero()), m_nextOrder++, context, std::move(action) });
}

void FakeMonotonicClock::advance(Duration by)
{
    const Duration target = m_now + by;
    while (runNextDueBy(target)) {
    }
    m_now = target;
}

int FakeMonotonicClock::pendingCount() const
{
    return int(std::count_if(m_pending.begin(), m_pending.end(), [](const Pending &p) { return !p.context.isNull(); }));
}

bool FakeMonotonicClock::runNextDueBy(Duration limit)
{
    auto next = m_pending.end();
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (it->due <= limit && (next == m_pending.end() || std::tie(it->due, it->order) < std::tie(next->due, next->order)))
            next = it;
    }
    if (next == m_pending.end())
        return false;
    Pending due = std::move(*next);
    m_pending.erase(next);
    m_now = std::max(m_now, due.due);
    if (due.context)
        due.action();
    return true;
}
