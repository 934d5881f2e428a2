// Races on purpose. The ThreadSanitizer step runs it with the project's
// suppressions and fails unless both races are reported: a suppression that
// hides them would hide the same race in any queued call or continuation of
// ours.
#include <QCoreApplication>
#include <QFuture>
#include <QPromise>

#include <thread>

// globals, so that the report names them
int raceReadInQueuedCall = 0;
int raceReadInContinuation = 0;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int seen = 0;
    QPromise<void> promise;
    promise.start();
    // no context: runs on the thread that finishes the promise, the main one
    QFuture<void> read = promise.future().then([&] {
        seen += raceReadInContinuation;
        QCoreApplication::quit();
    });

    std::thread worker([&] {
        QMetaObject::invokeMethod(
            &app,
            [&] {
                seen += raceReadInQueuedCall;
                promise.finish();
            },
            Qt::QueuedConnection);
        // after the hand-over: nothing orders these writes with the reads
        raceReadInQueuedCall = 1;
        raceReadInContinuation = 1;
    });
    const int status = app.exec();
    worker.join();
    return status + (seen > 2 ? 1 : 0);
}
