#include "SqliteProbe.h"

#include <QtTest>

// A process killed at any moment while recording leaves a sound database:
// every batch is all or nothing, and nothing reported as committed is lost.
class tst_ProfileDurability : public QObject {
    Q_OBJECT
private slots:
    void killedWriterLeavesWholeBatches();
};

void tst_ProfileDurability::killedWriterLeavesWholeBatches()
{
    const quint32 seed = qEnvironmentVariableIsSet("PROFILE_DURABILITY_SEED")
                             ? quint32(qEnvironmentVariableIntValue("PROFILE_DURABILITY_SEED"))
                             : QRandomGenerator::global()->generate();
    qInfo("seed %u (set PROFILE_DURABILITY_SEED to repeat)", seed);
    QRandomGenerator random(seed);

    QTemporaryDir dir;
    const QString database = dir.filePath("voice_profile.sqlite");
    const QString writer = QCoreApplication::applicationDirPath() + "/profile_durability_writer";
    QVERIFY(QFileInfo(writer).isExecutable());

    long nextSession = 0;
    long lastSynced = -1;
    for (int round = 0; round < 10; ++round) {
        QProcess process;
        process.start(writer, {database, QString::number(nextSession)});
        QVERIFY(process.waitForStarted());
        const long killAfter = nextSession + 4 * long(random.bounded(2, 12));
        long synced = -1;
        while (synced < killAfter) {
            QVERIFY2(process.waitForReadyRead(20000), qPrintable(process.readAllStandardError()));
            while (process.canReadLine()) {
                const QByteArray line = process.readLine().trimmed();
                if (line.startsWith("synced "))
                    synced = line.mid(7).toLong();
            }
        }
        // Land the kill at a random moment of the work still queued.
        QThread::usleep(random.bounded(0, 8000));
        process.kill();
        QVERIFY(process.waitForFinished());
        lastSynced = synced;
        nextSession = synced + 1000;

        QCOMPARE(sqliteRows(database, "PRAGMA integrity_check"), QStringList{"ok"});
        // Sessions whose word batch is partly there.
        QCOMPARE(sqliteRows(database, "SELECT substr(word, 1, instr(word, 'w') - 1) AS s, COUNT(*) FROM vocabulary "
                                      "WHERE word <> 'shared' GROUP BY s HAVING COUNT(*) <> 25"),
                 QStringList{});
        QCOMPARE(sqliteRows(database, "SELECT substr(phrase, 1, instr(phrase, ' ') - 1) AS s, COUNT(*) FROM phrases "
                                      "GROUP BY s HAVING COUNT(*) <> 10"),
                 QStringList{});
        // The shared word gained exactly one point per whole batch.
        QCOMPARE(sqliteRows(database, "SELECT frequency FROM vocabulary WHERE word = 'shared'"),
                 sqliteRows(database, "SELECT COUNT(*) / 25 FROM vocabulary WHERE word <> 'shared'"));
        // Everything reported as committed is there.
        const QByteArray lastSyncedWord = QStringLiteral("s%1w0").arg(lastSynced).toUtf8();
        QCOMPARE(sqliteRows(database, ("SELECT COUNT(*) FROM vocabulary WHERE word = '" + lastSyncedWord + "'").constData()),
                 QStringList{"1"});
    }
    QVERIFY(sqliteRows(database, "SELECT COUNT(*) FROM session_log").first().toInt() >= 10 * 8);
}

QTEST_GUILESS_MAIN(tst_ProfileDurability)
#include "tst_ProfileDurability.moc"
