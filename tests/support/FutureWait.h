#pragma once

#include "support/FutureWatch.h"

#include <QFuture>
#include <QtTest>

#include <optional>

// Runs the event loop until the future has finished; false on timeout.
template <typename T>
bool waitForFuture(const QFuture<T> &future, int timeoutMs = 10000)
{
    return QTest::qWaitFor([&] { return future.isFinished(); }, timeoutMs);
}

// The exception a finished future ended with, when it is an E.
template <typename E, typename T>
std::optional<E> failureOf(QFuture<T> future)
{
    const std::exception_ptr failure = Futures::failureOf(future);
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const E &error) {
        return error;
    } catch (...) {
    }
    return std::nullopt;
}
