#include "support/SerialExecutor.h"
#include "support/TestError.h"

#include <QtTest>

#include <atomic>

class tst_SerialExecutor : public QObject {
    Q_OBJECT
private slots:
    void runsJobsInPostingOrderFromManyThreads();
    void syncFromInsideAJobRunsInline();
    void destructionDrainsPostedJobs();
    void runDeliversResultsAndTypedErrors();
};

void tst_SerialExecutor::runsJobsInPostingOrderFromManyThreads()
{
    SerialExecutor executor(QStringLiteral("order"));
    QList<int> seen;
    static constexpr int perThread = 2000;
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i)
                executor.post([&seen, t, i] { seen.append(t * perThread + i); });
        });
    }
    for (auto &p : posters)
        p.join();
    // sync sees every earlier post, and each poster's own jobs stay in its order
    qsizetype observed = 0;
    executor.sync([&] { observed = seen.size(); });
    QCOMPARE(observed, 4 * perThread);
    QList<int> last(4, -1);
    for (int value : seen) {
        const int t = value / perThread;
        QVERIFY(value > last[t]);
        last[t] = value;
    }
}

void tst_SerialExecutor::syncFromInsideAJobRunsInline()
{
    SerialExecutor executor;
    bool innerRan = false;
    executor.sync([&] { executor.sync([&] { innerRan = true; }); });
    QVERIFY(innerRan);
}

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
