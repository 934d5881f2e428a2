#pragma once

#include "support/DescribedError.h"

#include <QFuture>
#include <QPromise>

#include <memory>

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

} // namespace Futures
