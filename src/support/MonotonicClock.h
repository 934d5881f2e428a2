#pragma once

#include <QFuture>
#include <QObject>

#include <chrono>
#include <functional>

// A clock that never steps backwards, and delayed actions measured on it.
// Services take one so that tests can drive time instead of sleeping.
class MonotonicClock {
public:
    using Duration = std::chrono::nanoseconds;

    virtual ~MonotonicClock() = default;

    // Time since an arbitrary fixed origin.
    virtual Duration now() const = 0;
    // Runs action on context's thread once delay has passed; never when the
    // context is destroyed first.
    virtual void callAfter(Duration delay, QObject *context, std::function<void()> action) = 0;
    // Finishes once delay has passed; cancelled when the context goes first.
    QFuture<void> sleep(Duration delay, QObject *context);

    // The steady clock with Qt timers.
    static MonotonicClock &system();
};

inline double toSeconds(MonotonicClock::Duration duration)
{
    return std::chrono::duration<double>(duration).count();
}
