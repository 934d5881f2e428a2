#include "support/UsableProcessors.h"

#include <QtTest>

class tst_UsableProcessors : public QObject {
    Q_OBJECT
private slots:
    void cgroupQuotaOnThePathToTheRoot_data();
    void cgroupQuotaOnThePathToTheRoot();
    void combine();
};

void tst_UsableProcessors::cgroupQuotaOnThePathToTheRoot_data()
{
    QTest::addColumn<QString>("rootMax");   // cpu.max at the hierarchy's root ("" = no file)
    QTest::addColumn<QString>("parentMax"); // at /app
    QTest::addColumn<QString>("ownMax");    // at /app/worker, the process's cgroup
    QTest::addColumn<double>("limit");      // 0 = none
    QTest::newRow("no files") << "" << "" << "" << 0.0;
    QTest::newRow("unlimited") << "" << "max 100000" << "max 100000\n" << 0.0;
    QTest::newRow("own quota") << "" << "" << "150000 100000\n" << 1.5;
    QTest::newRow("parent tighter") << "" << "200000 100000" << "400000 100000" << 2.0;
    QTest::newRow("container root") << "100000 50000" << "" << "max 100000" << 2.0;
    QTest::newRow("garbage ignored") << "" << "lots" << "0 100000" << 0.0;
}

void tst_UsableProcessors::cgroupQuotaOnThePathToTheRoot()
{
    QFETCH(QString, rootMax);
    QFETCH(QString, parentMax);
    QFETCH(QString, ownMax);
    QFETCH(double, limit);
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("app/worker")));
    const auto write = [&](const QString &dir, const QString &text) {
        QFile file(root.filePath(dir + QStringLiteral("cpu.max")));
        if (!text.isEmpty())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) > 0);
    };
    write(QString(), rootMax);
    write(QStringLiteral("app/"), parentMax);
    write(QStringLiteral("app/worker/"), ownMax);

    const QByteArray cgroup = "12:cpu,cpuacct:/elsewhere\n0::/app/worker\n";
    const std::optional<double> found = UsableProcessors::cgroupCpuLimit(root.path(), cgroup);
    QCOMPARE(found.value_or(0.0), limit);
    // A process outside the unified hierarchy has no quota there.
    QVERIFY(!UsableProcessors::cgroupCpuLimit(root.path(), "3:cpu:/app/worker\n"));
}

void tst_UsableProcessors::combine()
{
    QCOMPARE(UsableProcessors::combine(8, std::nullopt), 8);
    QCOMPARE(UsableProcessors::combine(8, 1.5), 2); // a partial CPU still runs a thread
    QCOMPARE(UsableProcessors::combine(2, 4.0), 2);
    QCOMPARE(UsableProcessors::combine(0, 0.1), 1);
    QVERIFY(UsableProcessors::count() >= 1);
}

QTEST_GUILESS_MAIN(tst_UsableProcessors)
#include "tst_UsableProcessors.moc"
