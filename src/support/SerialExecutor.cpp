#include "SerialExecutor.h"

#include "Log.h"

#include <pthread.h>

SerialExecutor::SerialExecutor(QString name)
    : m_name(std::move(name))
{
    m_thread = std::thread([this] { loop(); });
    if (!m_name.isEmpty())
        pthread_setname_np(m_thread.native_handle(), m_name.left(15).toUtf8().constData());
}

SerialExecutor::~SerialExecutor()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        if (isCurrentThread())
            m_thread.detach(); // destroyed from its own job: nothing left to wait for
        else
            m_thread.join();
    }
}

void SerialExecutor::post(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void SerialExecutor::sync(const std::function<void()> &job)
{
    if (isCurrentThread()) {
        job();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneWake;
    bool done = false;
    std::exception_ptr failure;
    post([&] {
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(doneMutex);
        done = true;
        doneWake.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneWake.wait(lock, [&] { return done; });
    if (failure)
        std::rethrow_exception(failure);
}

bool SerialExecutor::isCurrentThread() const
{
    return std::this_thread::get_id() == m_thread.get_id();
}

void SerialExecutor::loop()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return; // stopping and drained
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        try {
            job();
        } catch (const std::exception &e) {
            logLine("SerialExecutor", QStringLiteral("job on %1 threw: %2").arg(m_name, QString::fromUtf8(e.what())));
        } catch (...) {
            logLine("SerialExecutor", QStringLiteral("job on %1 threw").arg(m_name));
        }
    }
}
