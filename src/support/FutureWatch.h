#pragma once

#include "support/DescribedError.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>

#include <exception>

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

// Calls handler(future) on context's thread once future has finished, always
// from the event loop (never inside this call), and never once context is gone.
template <typename T, typename Handler>
void whenFinished(const QFuture<T> &future, QObject *context, Handler handler)
{
    auto *watcher = new QFutureWatcher<T>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher,
                     [watcher, handler = std::move(handler)]() mutable {
                         watcher->deleteLater();
                         handler(watcher->future());
                     });
    watcher->setFuture(future);
}

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

} // namespace Futures
