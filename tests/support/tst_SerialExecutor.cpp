#include "support/SerialExecutor.h"
#include "support/TestError.h"

#include <QtTest>

#include <atomic>

class tst_SerialExecutor : public QObject {
    Q_OBJECT
private slots:
    void destructionDrainsPostedJobs();
    void runDeliversResultsAndTypedErrors();
};

void tst_SerialExecutor::destructionDrainsPostedJobs()
{
    std::atomic<int> done{0};
    {
        SerialExecutor executor;
        for (int i = 0; i < 50; ++i) {
            executor.post([&done] {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                ++done;
            });
        }
    }
    QCOMPARE(done.load(), 50);
}

void tst_SerialExecutor::runDeliversResultsAndTypedErrors()
{
    SerialExecutor executor;
    QCOMPARE(executor.run([] { return 42; }).result(), 42);
    QFuture<int> failing = executor.run([]() -> int { throw TestError(QStringLiteral("failed")); });
    QVERIFY_THROWS_EXCEPTION(TestError, failing.waitForFinished());
}

QTEST_GUILESS_MAIN(tst_SerialExecutor)
#include "tst_SerialExecutor.moc"
