#pragma once

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <memory>
#include <utility>

// How a worker thread hands a result to an object's thread: job runs there,
// later, unless the receiver is gone by then. A queued call alone is ordered
// by a lock inside Qt's library, which ThreadSanitizer does not see, so
// whatever the worker wrote before (the result) would be reported as a race
// when the receiver reads it. The job goes through an atomic flag of ours
// instead; the queued call only wakes the receiver.
namespace Handover {

template <typename Job>
void post(QObject *receiver, Job job)
{
    struct Slot {
        explicit Slot(Job job)
            : job(std::move(job))
        {
        }
        Job job;
        std::atomic<bool> posted{false};
    };
    auto slot = std::make_shared<Slot>(std::move(job));
    slot->posted.store(true, std::memory_order_release);
    // The queued call alone holds the job from here: whichever thread drops
    // the call last destroys it, under a frame scripts/tsan.supp names.
    QMetaObject::invokeMethod(
        receiver,
        [slot = std::move(slot)] {
            // always true by now; the load is what orders the worker's writes
            if (slot->posted.load(std::memory_order_acquire))
                slot->job();
        },
        Qt::QueuedConnection);
}

} // namespace Handover
