#pragma once

#include "support/DescribedError.h"

#include <QFuture>
#include <QObject>
#include <QPromise>

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

// What a future that was cancelled reports in place of a result: a cancelled
// operation is never a success.
class OperationCancelled : public DescribedErrorOf<OperationCancelled> {
public:
    OperationCancelled()
        : DescribedErrorOf(QStringLiteral("The operation was cancelled."))
    {
    }
};

namespace Futures {

// Why a finished future has no result: its exception, OperationCancelled when
// it was cancelled, null when it succeeded.
template <typename T>
std::exception_ptr failureOf(QFuture<T> future)
{
    try {
        future.waitForFinished();
    } catch (...) {
        return std::current_exception();
    }
    if (future.isCanceled())
        return std::make_exception_ptr(OperationCancelled());
    return nullptr;
}

// The same outcome, except that a cancellation arrives as an OperationCancelled
// failure, where .onFailed() handles it.
template <typename T>
QFuture<T> cancellationAsFailure(QFuture<T> future)
{
    return future.onCanceled([]() -> T { throw OperationCancelled(); });
}

// A promise already started, for turning a signal or a timer into a future;
// whoever settles it must finish it on every path.
template <typename T>
std::shared_ptr<QPromise<T>> startedPromise()
{
    auto promise = std::make_shared<QPromise<T>>();
    promise->start();
    return promise;
}

// Qt asserts when a future ends after the context object of its .then() is
// gone (release builds drop the call without a word), and a chain whose step
// is dropped cancels the next step on the same dead object. An object that
// waits on futures others finish takes them through follow(), from one of
// these declared among its last members: going before the object itself, it
// cancels whatever is still open while the object is whole, which ends those
// chains there and runs none of their bodies. A future that ends later goes
// nowhere. Each end reaches the owner on the owner's thread.
class FollowedFutures : public QObject {
    Q_OBJECT
public:
    FollowedFutures();
    ~FollowedFutures() override;

    template <typename T>
    QFuture<T> follow(QFuture<T> future);

private:
    using Settle = std::function<void()>;
    // What the threads that end followed futures share with the owner. Ends
    // from other threads wait here under the lock, which also orders them
    // after follow() where ThreadSanitizer can see it: Qt's own ordering of a
    // continuation lies inside libQt6Core, and so does a QMutex that waits.
    struct Link {
        std::mutex mutex;
        FollowedFutures *owner = nullptr;
        std::vector<std::pair<quint64, Settle>> ended;
    };
    static void hand(Link &link, quint64 id, Settle settle);
    Q_INVOKABLE void settleEnded();
    void settle(quint64 id, const Settle &settle);

    template <typename T>
    static void settleFrom(QPromise<T> &promise, QFuture<T> ended);
    template <typename T>
    static void cancel(QPromise<T> &promise)
    {
        promise.future().cancel();
        promise.finish();
    }

    std::shared_ptr<Link> m_link;
    std::map<quint64, Settle> m_cancels;
    quint64 m_lastId = 0;
};

template <typename T>
QFuture<T> FollowedFutures::follow(QFuture<T> future)
{
    auto promise = startedPromise<T>();
    const quint64 id = ++m_lastId;
    {
        const std::lock_guard lock(m_link->mutex);
        // A chain that goes on while this ends (.onFailed() passes a
        // cancellation on as a success) waits for nothing more.
        if (!m_link->owner) {
            cancel(*promise);
            return promise->future();
        }
        m_cancels.emplace(id, [promise] { cancel(*promise); });
    }
    // A cancelled future skips .then() and reaches .onCanceled() instead. The
    // promise moves on rather than being copied before hand() takes the lock.
    future
        .then([link = m_link, id, promise](QFuture<T> ended) mutable {
            hand(*link, id, [promise = std::move(promise), ended] { settleFrom(*promise, ended); });
        })
        .onCanceled([link = m_link, id, promise]() mutable {
            hand(*link, id, [promise = std::move(promise)] { cancel(*promise); });
        });
    return promise->future();
}

template <typename T>
void FollowedFutures::settleFrom(QPromise<T> &promise, QFuture<T> ended)
{
    try {
        ended.waitForFinished();
        bool cancelled = ended.isCanceled();
        if constexpr (!std::is_void_v<T>) {
            cancelled = cancelled || ended.resultCount() == 0;
            if (!cancelled)
                promise.addResult(ended.result());
        }
        if (cancelled) {
            cancel(promise);
            return;
        }
    } catch (...) {
        promise.setException(std::current_exception());
    }
    promise.finish();
}

} // namespace Futures
