#pragma once

#include <QFuture>
#include <QPromise>
#include <QString>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>

// One worker thread running posted jobs one at a time, in the order posted.
// Destruction runs every job already posted, then joins the thread.
class SerialExecutor {
public:
    explicit SerialExecutor(QString name = {});
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor &) = delete;
    SerialExecutor &operator=(const SerialExecutor &) = delete;

    void post(std::function<void()> job);

    // Runs the job after everything posted before it and waits for it. Called from
    // a job of this executor it runs inline, so it can never wait on itself.
    void sync(const std::function<void()> &job);

    // Runs fn as a posted job and hands its result (or its exception) to a future.
    template <typename Fn>
    auto run(Fn fn) -> QFuture<std::invoke_result_t<Fn>>
    {
        using T = std::invoke_result_t<Fn>;
        auto promise = std::make_shared<QPromise<T>>();
        QFuture<T> future = promise->future();
        promise->start();
        post([promise, fn = std::move(fn)]() mutable {
            try {
                if constexpr (std::is_void_v<T>) {
                    fn();
                } else {
                    promise->addResult(fn());
                }
            } catch (...) {
                promise->setException(std::current_exception());
            }
            promise->finish();
        });
        return future;
    }

    bool isCurrentThread() const;
    const QString &name() const { return m_name; }

private:
    void loop();

    QString m_name;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};
