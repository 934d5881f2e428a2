#include "FutureWatch.h"

#include <QThread>

namespace Futures {

FollowedFutures::FollowedFutures()
    : m_link(std::make_shared<Link>())
{
    m_link->owner = this;
}

FollowedFutures::~FollowedFutures()
{
    {
        const std::lock_guard lock(m_link->mutex);
        m_link->owner = nullptr;
        m_link->ended.clear();
    }
    for (const auto &[id, cancel] : std::exchange(m_cancels, {}))
        cancel();
}

void FollowedFutures::hand(Link &link, quint64 id, Settle settle)
{
    std::unique_lock lock(link.mutex);
    FollowedFutures *owner = link.owner;
    if (!owner)
        return;
    if (owner->thread() == QThread::currentThread()) {
        // the owner's own thread: it cannot go away before this returns
        lock.unlock();
        owner->settle(id, settle);
        return;
    }
    link.ended.emplace_back(id, std::move(settle));
    // One call for every end waiting; it carries nothing, so what it hands
    // over goes through the lock alone.
    if (link.ended.size() == 1)
        QMetaObject::invokeMethod(owner, "settleEnded", Qt::QueuedConnection);
}

void FollowedFutures::settleEnded()
{
    std::vector<std::pair<quint64, Settle>> ended;
    {
        const std::lock_guard lock(m_link->mutex);
        ended.swap(m_link->ended);
    }
    for (const auto &[id, settleOne] : ended)
        settle(id, settleOne);
}

void FollowedFutures::settle(quint64 id, const Settle &settle)
{
    if (m_cancels.erase(id) > 0)
        settle();
}

} // namespace Futures
