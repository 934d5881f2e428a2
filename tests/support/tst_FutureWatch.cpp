#include "support/DescribedError.h"
#include "support/FutureWatch.h"
#include "support/TestError.h"

#include <QtTest>

class tst_FutureWatch : public QObject {
    Q_OBJECT
private slots:
    void handlerRunsLaterWithTheOutcome();
    void handlerIsSkippedWhenTheContextIsGone();
};

void tst_FutureWatch::handlerRunsLaterWithTheOutcome()
{
    QObject context;
    QList<QString> seen;
    Futures::whenFinished(QtFuture::makeReadyFuture(QStringLiteral("done")), &context,
                          [&](QFuture<QString> f) { seen.append(f.result()); });
    QPromise<void> failing;
    failing.start();
    Futures::whenFinished(failing.future(), &context, [&](QFuture<void> f) {
        seen.append(describeException(Futures::failureOf(f)));
    });
    QVERIFY(seen.isEmpty()); // never inside the call, even for a ready future
    failing.setException(TestError(QStringLiteral("Sample failure.")));
    failing.finish();
    QTRY_COMPARE(seen, (QList<QString> { QStringLiteral("done"), QStringLiteral("Sample failure.") }));
    QVERIFY(!Futures::failureOf(QtFuture::makeReadyFuture(1)));
}

void tst_FutureWatch::handlerIsSkippedWhenTheContextIsGone()
{
    bool called = false;
    QPromise<int> promise;
    promise.start();
    {
        QObject context;
        Futures::whenFinished(promise.future(), &context, [&](QFuture<int>) { called = true; });
    }
    promise.addResult(1);
    promise.finish();
    QTest::qWait(20);
    QVERIFY(!called);
}

QTEST_GUILESS_MAIN(tst_FutureWatch)
#include "tst_FutureWatch.moc"
