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
        const QMutexLocker lock(&m_link->mutex);
        m_link->owner = nullptr;
    }
    for (const auto &[id, cancel] : std::exchange(m_cancels, {}))
        cancel();
}

void FollowedFutures::hand(const std::shared_ptr<Link> &link, quint64 id, std::function<void()> settle)
{
    QMutexLocker lock(&link->mutex);
    FollowedFutures *owner = link->owner;
    if (!owner)
        return;
    if (owner->thread() == QThread::currentThread()) {
        // the owner's own thread: it cannot go away before this returns
        lock.unlock();
        owner->settle(id, settle);
        return;
    }
    // queued under the lock, so the owner's destruction waits for the post;
    // the owner takes a post it never delivered with it
    QMetaObject::invokeMethod(owner, [owner, id, settle] { owner->settle(id, settle); }, Qt::QueuedConnection);
}

void FollowedFutures::settle(quint64 id, const std::function<void()> &settle)
{
    if (m_cancels.erase(id) > 0)
        settle();
}

} // namespace Futures
