#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QPromise>

#include <exception>
#include <memory>

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

// The exception a finished future failed with; null when it succeeded.
template <typename T>
std::exception_ptr failureOf(QFuture<T> future)
{
    try {
        future.waitForFinished();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

// A promise already started, shared by the continuations that settle it.
template <typename T>
std::shared_ptr<QPromise<T>> startedPromise()
{
    auto promise = std::make_shared<QPromise<T>>();
    promise->start();
    return promise;
}

template <typename T>
void finishWithFailure(const std::shared_ptr<QPromise<T>> &promise, const std::exception_ptr &error)
{
    promise->setException(error);
    promise->finish();
}

} // namespace Futures
