#include "app/SingleInstance.h"

#include <QtTest>

#include <future>
#include <thread>

#include <sys/time.h>

class tst_SingleInstance : public QObject {
    Q_OBJECT
private slots:
    void aRunningHolderKeepsTheLockAndShowsItself();
    void aLockLeftByAnInstanceThatIsGoneIsTakenOver();

private:
    // A later launch's request, made from another thread as another process would.
    static bool askFromElsewhere(const QString &directory)
    {
        auto asked = std::async(std::launch::async, [directory] {
            SingleInstance later(directory);
            return later.askRunningInstanceToShowItself(std::chrono::seconds(10));
        });
        while (asked.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            QCoreApplication::processEvents();
        return asked.get();
    }
};

void tst_SingleInstance::aRunningHolderKeepsTheLockAndShowsItself()
{
    QTemporaryDir runtime;
    SingleInstance first(runtime.path());
    QVERIFY(first.claim());
    QSignalSpy shown(&first, &SingleInstance::showRequested);

    // however long the first has run
    const QByteArray lock = QFile::encodeName(runtime.filePath(QStringLiteral("tavrune.lock")));
    const struct timeval longAgo[2] = {{time(nullptr) - 86400, 0}, {time(nullptr) - 86400, 0}};
    QCOMPARE(utimes(lock.constData(), longAgo), 0);
    SingleInstance later(runtime.path());
    QVERIFY(!later.claim());

    QVERIFY(askFromElsewhere(runtime.path()));
    QCOMPARE(shown.size(), 1);
}

void tst_SingleInstance::aLockLeftByAnInstanceThatIsGoneIsTakenOver()
{
    QTemporaryDir runtime;
    {
        QProcess gone;
        gone.start(QStringLiteral("true"));
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished());
        QFile lock(runtime.filePath(QStringLiteral("tavrune.lock")));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(pid) + '\n' + QCoreApplication::applicationName().toUtf8() + '\n'
                   + QSysInfo::machineHostName().toUtf8() + '\n');
        QFile socket(runtime.filePath(QStringLiteral("tavrune.socket"))); // not a socket any more
        QVERIFY(socket.open(QIODevice::WriteOnly));
    }
    SingleInstance next(runtime.path());
    QVERIFY(next.claim());
    QSignalSpy shown(&next, &SingleInstance::showRequested);
    QVERIFY(askFromElsewhere(runtime.path()));
    QCOMPARE(shown.size(), 1);
}

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"
