#include "support/DescribedError.h"
#include "support/FutureWatch.h"
#include "support/TestError.h"

#include <QtTest>

class tst_FutureWatch : public QObject {
    Q_OBJECT
private slots:
    void aCancelledFutureIsAFailure();
};

void tst_FutureWatch::aCancelledFutureIsAFailure()
{
    QVERIFY(!Futures::failureOf(QtFuture::makeReadyFuture(1)));
    QCOMPARE(describeException(Futures::failureOf(
                 QtFuture::makeExceptionalFuture<int>(TestError(QStringLiteral("Sample failure."))))),
             QStringLiteral("Sample failure."));

    std::optional<QPromise<int>> abandoned(std::in_place);
    abandoned->start();
    QFuture<int> cancelled = abandoned->future();
    abandoned.reset(); // a promise dropped unfinished cancels its future
    QVERIFY_THROWS_EXCEPTION(OperationCancelled, std::rethrow_exception(Futures::failureOf(cancelled)));

    // ... and reaches .onFailed() as one.
    bool failed = false;
    Futures::cancellationAsFailure(cancelled).onFailed([&](const OperationCancelled &) {
        failed = true;
        return 0;
    });
    QVERIFY(failed);
}

QTEST_GUILESS_MAIN(tst_FutureWatch)
#include "tst_FutureWatch.moc"
