// Races on purpose. The ThreadSanitizer step runs it with the project's
// suppressions and fails unless every race is reported: a suppression that
// hides one would hide the same race in any hand-over, continuation, executor
// job, thread-pool job or worker thread's slot of ours.
#include "support/Handover.h"
#include "support/SerialExecutor.h"

#include <QCoreApplication>
#include <QFuture>
#include <QPromise>
#include <QThread>
#include <QtConcurrent>

#include <atomic>
#include <thread>

// globals, so that the report names them
int raceReadInQueuedCall = 0;
int raceReadInContinuation = 0;
int raceReadInContextContinuation = 0;
int raceWriteInSerialJob = 0;
int raceWriteInPoolJob = 0;
int raceWriteInThreadSlot = 0;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    // A job on our own executor, one on the thread pool and a slot run by a
    // signal on a worker thread of Qt's (as the capture thread reads the
    // microphone), each writing after the main thread's write. What a job
    // leaves behind when it ends could order the two in the sanitizer's eyes,
    // so each waits for the main thread's writes through a flag that orders
    // nothing.
    std::atomic<bool> mainWrote = false;
    const auto afterMainWrote = [&mainWrote] {
        while (!mainWrote.load(std::memory_order_relaxed))
            std::this_thread::yield();
    };
    SerialExecutor executor(QStringLiteral("race probe"));
    QFuture<void> serialJob = executor.run([&] {
        afterMainWrote();
        raceWriteInSerialJob = 1;
    });
    // given its promise, as a job that reports progress is
    QFuture<void> poolJob = QtConcurrent::run([&](QPromise<void> &) {
        afterMainWrote();
        raceWriteInPoolJob = 1;
    });
    QThread thread;
    QObject::connect(&thread, &QThread::started, [&] {
        afterMainWrote();
        raceWriteInThreadSlot = 1;
    });
    thread.start();
    raceWriteInSerialJob = 2;
    raceWriteInPoolJob = 2;
    raceWriteInThreadSlot = 2;
    mainWrote.store(true, std::memory_order_relaxed);

    int seen = 0;
    QPromise<void> promise;
    promise.start();
    // No context: runs on the thread that finishes the promise, the main one.
    // The next step has one, on the same thread: Qt calls it at once.
    QFuture<void> read = promise.future()
                             .then([&] { seen += raceReadInContinuation; })
                             .then(&app, [&] {
                                 seen += raceReadInContextContinuation;
                                 QCoreApplication::quit();
                             });

    std::thread worker([&] {
        Handover::post(&app, [&] {
            seen += raceReadInQueuedCall;
            promise.finish();
        });
        // after the hand-over: nothing orders these writes with the reads
        raceReadInQueuedCall = 1;
        raceReadInContinuation = 1;
        raceReadInContextContinuation = 1;
    });
    const int status = app.exec();
    worker.join();
    thread.quit();
    thread.wait();
    serialJob.waitForFinished();
    poolJob.waitForFinished();
    return status + (seen > 3 ? 1 : 0);
}
