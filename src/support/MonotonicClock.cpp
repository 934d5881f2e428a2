#include "MonotonicClock.h"

#include <QPromise>
#include <QTimer>

#include <memory>

namespace {
class SteadyClock : public MonotonicClock {
public:
    Duration now() const override
    {
        return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now().time_since_epoch());
    }

    void callAfter(Duration delay, QObject *context, std::function<void()> action) override
    {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(std::max(delay, Duration::zero()));
        QTimer::singleShot(ms, Qt::PreciseTimer, context, std::move(action));
    }
};
} // namespace

MonotonicClock &MonotonicClock::system()
{
    static SteadyClock clock;
    return clock;
}

QFuture<void> MonotonicClock::sleep(Duration delay, QObject *context)
{
    // An unfinished promise cancels its future when the pending action is dropped.
    auto done = std::make_shared<QPromise<void>>();
    done->start();
    callAfter(delay, context, [done] { done->finish(); });
    return done->future();
}
