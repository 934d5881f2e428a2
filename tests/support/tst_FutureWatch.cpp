#include "support/DescribedError.h"
#include "support/FutureWatch.h"
#include "support/TestError.h"

#include <QThread>
#include <QtTest>

#include <thread>

class tst_FutureWatch : public QObject {
    Q_OBJECT
private slots:
    void aCancelledFutureIsAFailure();
    void followedFuturesEndBeforeTheirOwner();
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

namespace {
struct Owner : QObject {
    Futures::FollowedFutures followed;
};
} // namespace

void tst_FutureWatch::followedFuturesEndBeforeTheirOwner()
{
    // Results, failures and ends on another thread come through, on the owner's thread.
    auto owner = std::make_unique<Owner>();
    QCOMPARE(owner->followed.follow(QtFuture::makeReadyFuture(7)).result(), 7);
    QCOMPARE(describeException(Futures::failureOf(owner->followed.follow(
                 QtFuture::makeExceptionalFuture<int>(TestError(QStringLiteral("Sample failure.")))))),
             QStringLiteral("Sample failure."));
    QPromise<int> elsewhere;
    elsewhere.start();
    QThread *ranOn = nullptr;
    const QFuture<void> relayed = owner->followed.follow(elsewhere.future()).then(owner.get(), [&](int) {
        ranOn = QThread::currentThread();
    });
    std::thread([&] {
        elsewhere.addResult(1);
        elsewhere.finish();
    }).join();
    QVERIFY(QTest::qWaitFor([&] { return relayed.isFinished(); }));
    QCOMPARE(ranOn, owner->thread());

    // A chain on the owner still waiting when it goes is cancelled first (Qt
    // asserts on a continuation whose context is gone) and never runs; its
    // source ending later goes nowhere.
    auto pending = std::make_optional<QPromise<void>>();
    pending->start();
    bool ran = false;
    const QFuture<void> chain = owner->followed.follow(pending->future())
                                    .then(owner.get(), [&] { ran = true; })
                                    .then(owner.get(), [&] { ran = true; });
    owner.reset();
    QVERIFY(chain.isCanceled());
    pending.reset();
    QCoreApplication::processEvents();
    QVERIFY(!ran);
}

QTEST_GUILESS_MAIN(tst_FutureWatch)
#include "tst_FutureWatch.moc"
