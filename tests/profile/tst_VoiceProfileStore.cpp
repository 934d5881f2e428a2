#include "SqliteProbe.h"

#include "support/LogCapture.h"

#include "platform/fake/FakePlatform.h"
#include "profile/VoiceProfileStore.h"
#include "support/SerialExecutor.h"

#include <QtTest>

#include <ctime>
#include <thread>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

class tst_VoiceProfileStore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void existingFileKeepsItsRowsAndGainsTheSchema();
    void fileLivesInTheContainerElseInDocuments();
    void unusableFileIsReportedAndLeftAlone_data();
    void unusableFileIsReportedAndLeftAlone();

    void writesFromSeveralThreadsKeepTheirOrder();
    void readFromInsideAQueuedBlockDoesNotDeadlock();
    void failedCommitIsRolledBackAndLaterWritesLand();

    void wordsAndPhrasesAreLowercasedCountedAndFiltered();
    void customTermsUpsertByLowercasedTerm();
    void sessionsFeedTotalsAverageAndHistory();
    void correctionsAndSnippetsUpsert();

    void streak_data();
    void streak();

    // Last: it closes the process-wide store.
    void sharedStoreDrainsWhenTheApplicationQuits();

private:
    QString path(const QString &name = QStringLiteral("voice_profile.sqlite")) const { return m_dir->filePath(name); }
    std::unique_ptr<VoiceProfileStore> openStore(const QString &file);

    std::unique_ptr<QTemporaryDir> m_dir;
    QDateTime m_now;
};

void tst_VoiceProfileStore::initTestCase()
{
    // Streaks are counted in local days: pin a zone with daylight saving.
    qputenv("TZ", "America/New_York");
    tzset();
}

void tst_VoiceProfileStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_now = QDateTime(QDate(2026, 6, 15), QTime(12, 0));
}

std::unique_ptr<VoiceProfileStore> tst_VoiceProfileStore::openStore(const QString &file)
{
    auto store = std::make_unique<VoiceProfileStore>(file);
    store->setClock([this] { return m_now; });
    return store;
}

void tst_VoiceProfileStore::existingFileKeepsItsRowsAndGainsTheSchema()
{
    // Every other test starts from a fresh file; here the user's table is already there,
    // readable by everyone as an older version left it.
    const mode_t umaskBefore = umask(0);
    QVERIFY(sqliteExec(path(), "CREATE TABLE vocabulary (word TEXT PRIMARY KEY, frequency INTEGER DEFAULT 1, "
                               "last_used REAL, language TEXT DEFAULT 'en', is_custom INTEGER DEFAULT 0);"
                               "INSERT INTO vocabulary (word, frequency) VALUES ('kept', 7);"));
    auto store = openStore(path());
    store->logSession(10, 20, "en", "raw", "final");
    store->totalWords();
    umask(umaskBefore);
    for (const char *suffix : {"", "-wal", "-shm"}) // a journal of its own; user, group, other
        QCOMPARE(int(QFileInfo(path() + suffix).permissions()) & 0x777, 0x600);
    store.reset();
    auto reopened = openStore(path());
    QCOMPARE(reopened->topWords(30).first().frequency, 7);
    QCOMPARE(reopened->totalWords(), 20);
}

void tst_VoiceProfileStore::fileLivesInTheContainerElseInDocuments()
{
    FakePlatform &platform = FakePlatform::installNew();
    QCOMPARE(VoiceProfileStore::defaultDatabasePath(),
             QDir(*platform.paths().appGroupContainer()).filePath("voice_profile.sqlite"));
    platform.fakePaths().setContainerAvailable(false);
    LogCapture log;
    const QString fallback = QDir(platform.paths().documentsDirectory()).filePath("voice_profile.sqlite");
    QCOMPARE(VoiceProfileStore::defaultDatabasePath(), fallback);
    QVERIFY(log.contains("[VoiceProfileStore] No app data folder (switched off by the test); the voice profile is kept at "
                         + fallback));
}

void tst_VoiceProfileStore::unusableFileIsReportedAndLeftAlone_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // what the file holds beforehand; empty: no file
    QTest::addColumn<QByteArray>("sql");     // run on a store's file beforehand
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("reason");     // told first, and logged with the file's path
    QTest::addColumn<int>("totalWords");
    const QString file = QStringLiteral("voice_profile.sqlite");
    QTest::newRow("not a database") << file << QByteArray("my notes, not a database\n").repeated(200) << QByteArray()
                                    << false << "is not a database" << 0;
    QTest::newRow("damaged table")
        << file << QByteArray()
        << QByteArray("CREATE TRIGGER damaged BEFORE INSERT ON session_log BEGIN SELECT RAISE(ABORT, 'row damaged'); END;")
        << false << "row damaged" << 0;
    QTest::newRow("read-only file keeps its history")
        << file << QByteArray()
        << QByteArray("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10) "
                      "INSERT INTO session_log (timestamp, duration_seconds, word_count) SELECT i, 1, 3 FROM n;")
        << true << "the file can only be read" << 30;
}

void tst_VoiceProfileStore::unusableFileIsReportedAndLeftAlone()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, sql);
    QFETCH(bool, readOnly);
    QFETCH(QString, reason);
    QFile file(path(name));
    QVERIFY(content.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(content) && file.flush()));
    file.close();
    if (!sql.isEmpty())
        QVERIFY(openStore(file.fileName()) && sqliteExec(file.fileName(), sql.constData()));
    if (readOnly) {
        QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadOther)); // another user's file and folder
        QVERIFY(QFile::setPermissions(m_dir->path(), QFileDevice::Permissions(0x5505))); // r-x for its owner and others
        if (geteuid() == 0) { // the superuser may write anything: act as another user
            setfsgid(65534);
            setfsuid(65534);
        }
    }
    LogCapture log;
    QStringList told;
    {
        auto store = openStore(file.fileName()); // its queue thread keeps this thread's file access
        setfsuid(geteuid());
        setfsgid(getegid());
        QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        store->setOnWriteFailed([&](const QString &why) { told.append(why); });
        store->logSession(5, 2, "en", "hello world", "hello world");
        QTEST(store->totalWords(), "totalWords");
    }
    QVERIFY2(!told.isEmpty() && told.first().contains(reason), qPrintable(told.join('|')));
    QVERIFY(!log.linesStartingWith("[VoiceProfileStore] ").filter(file.fileName()).filter(reason).isEmpty());
    if (sql.isEmpty())
        QVERIFY(content.isEmpty() || (file.open(QIODevice::ReadOnly) && file.readAll() == content));
}

void tst_VoiceProfileStore::writesFromSeveralThreadsKeepTheirOrder()
{
    auto store = openStore(path());
    constexpr int threads = 4;
    constexpr int writesEach = 500; // thousands of queued writes, then one read
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([&store, t] {
            for (int i = 1; i <= writesEach; ++i) {
                store->setStyleMetric(QStringLiteral("thread_%1").arg(t), i);
                store->logSession(1, 1, "en", "w", "w");
            }
        });
    }
    for (auto &writer : writers)
        writer.join();
    QCOMPARE(store->totalWords(), threads * writesEach);
    for (int t = 0; t < threads; ++t)
        QCOMPARE(store->styleMetric(QStringLiteral("thread_%1").arg(t)), std::optional<double>(writesEach));
}

void tst_VoiceProfileStore::readFromInsideAQueuedBlockDoesNotDeadlock()
{
    auto store = openStore(path());
    store->logSession(1, 3, "en", "a b c", "a b c");
    int seenInside = -1;
    store->m_queue->post([&] { seenInside = store->totalWords(); });
    QCOMPARE(store->totalWords(), 3);
    QCOMPARE(seenInside, 3);
}

void tst_VoiceProfileStore::failedCommitIsRolledBackAndLaterWritesLand()
{
    // A rollback-journal file whose reader holds a shared lock cannot be committed to.
    openStore(path())->recordWords({"seed"}, "en");
    QVERIFY(sqliteExec(path(), "PRAGMA journal_mode=DELETE;"));
    sqlite3 *reader = nullptr;
    QCOMPARE(sqlite3_open(path().toUtf8().constData(), &reader), SQLITE_OK);
    QCOMPARE(sqlite3_exec(reader, "BEGIN; SELECT * FROM vocabulary;", nullptr, nullptr, nullptr), SQLITE_OK);

    VoiceProfileStore store(path(), std::chrono::milliseconds(20));
    QCOMPARE(store.vocabularyCount(), 1);
    store.recordWords({"blocked"}, "en");
    QCOMPARE(store.vocabularyCount(), 1); // the batch was rolled back, not left pending

    QCOMPARE(sqlite3_exec(reader, "COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(reader);
    store.recordWords({"later"}, "en");
    QCOMPARE(store.vocabularyCount(), 2);
    QCOMPARE(sqliteRows(path(), "SELECT word FROM vocabulary ORDER BY word"), QStringList({"later", "seed"}));
}

void tst_VoiceProfileStore::wordsAndPhrasesAreLowercasedCountedAndFiltered()
{
    auto store = openStore(path());
    store->recordWords({"The", "the", "a", "Ça", "ca\u0300fe", "Éé"}, "fr");
    store->recordWords({"the"}, "de");
    store->recordPhrases({"  ok ", "See You", "see you", ""}, "en");
    QCOMPARE(store->vocabularyCount(), 4);
    QCOMPARE(sqliteRows(path(), "SELECT word, frequency, language FROM vocabulary ORDER BY word"),
             QStringList({"càfe|1|fr", "the|3|fr", "ça|1|fr", "éé|1|fr"}));
    QCOMPARE(sqliteRows(path(), "SELECT phrase, frequency FROM phrases"), QStringList{"see you|2"});
    QVERIFY(store->topWords(30, QStringLiteral("de")).isEmpty()); // the row keeps its first language
}

void tst_VoiceProfileStore::customTermsUpsertByLowercasedTerm()
{
    auto store = openStore(path());
    store->addCustomTerm("API", std::nullopt, "en");
    m_now = m_now.addSecs(1);
    store->addAutoTerm("api", "de");
    store->addAutoTerm("BTW", "en");
    m_now = m_now.addSecs(1);
    store->addCustomTerm("btw", QStringLiteral("by the way"), "en");
    m_now = m_now.addSecs(1);
    store->addCustomTerm("Empty", QString(""), "en");

    const auto terms = store->customTerms();
    QCOMPARE(terms.size(), 3);
    QCOMPARE(terms[0].replacement, std::optional<QString>(QString(""))); // newest first
    QCOMPARE(terms[1].source, QStringLiteral("auto"));
    QCOMPARE(terms[1].replacement, std::optional<QString>(QStringLiteral("by the way")));
    QCOMPARE(terms[2].source, QStringLiteral("manual"));
    QVERIFY(!terms[2].replacement.has_value());

    store->removeCustomTerm("Api");
    QCOMPARE(store->customTerms().size(), 2);
}

void tst_VoiceProfileStore::sessionsFeedTotalsAverageAndHistory()
{
    auto store = openStore(path());
    store->logSession(30, 60, "en", "first", "first!");
    m_now = m_now.addSecs(60);
    store->logSession(60, 90, "en", "second", "second!");
    store->logSession(0, 500, "en", "instant", "");
    QCOMPARE(store->averageWPM(), 100.0); // no duration: neither words nor time count
    QCOMPARE(store->totalWords(), 650);

    for (int i = 0; i < 250; ++i) {
        m_now = m_now.addSecs(1);
        store->logSession(1, 1, "en", QStringLiteral("s%1").arg(i), "");
    }
    const auto recent = store->recentSessions(200);
    QCOMPARE(recent.size(), 200);
    QCOMPARE(recent.first().rawTranscript, QStringLiteral("s249"));
}

void tst_VoiceProfileStore::correctionsAndSnippetsUpsert()
{
    auto store = openStore(path());
    store->recordCorrection("The", "[removed]");
    store->recordCorrection("the", "[REMOVED]");
    store->recordCorrection("teh", "the");
    store->snippets(); // waits for the queue
    QCOMPARE(sqliteRows(path(), "SELECT original, corrected, frequency FROM corrections ORDER BY id"),
             QStringList({"the|[removed]|2", "teh|the|1"}));

    store->addSnippet("addr", "1 Main St", "Personal");
    m_now = m_now.addSecs(1);
    store->addSnippet("Addr", "Other", "General");
    store->addSnippet("addr", "2 Side St", "Work");
    const auto snippets = store->snippets();
    QCOMPARE(snippets.size(), 2);
    QCOMPARE(snippets[0].shortcut, QStringLiteral("Addr")); // newer first at equal use
    store->removeSnippet("addr");
    QCOMPARE(store->snippets().size(), 1);
}

void tst_VoiceProfileStore::streak_data()
{
    QTest::addColumn<QList<QDateTime>>("sessions");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<int>("expected");

    const QDate day(2026, 6, 15);
    auto at = [](QDate date, int hour, int minute = 0) { return QDateTime(date, QTime(hour, minute)); };
    QTest::newRow("nothing today") << QList{at(day.addDays(-1), 9), at(day.addDays(-2), 9)} << at(day, 12) << 0;
    QTest::newRow("gap") << QList{at(day, 9), at(day.addDays(-2), 9)} << at(day, 12) << 1;
    QTest::newRow("across midnight") << QList{at(day.addDays(-1), 23, 59), at(day, 0, 1)} << at(day, 0, 2) << 2;
    QTest::newRow("late evening is not tomorrow in UTC")
        << QList{at(day.addDays(-1), 22), at(day.addDays(-2), 22)} << at(day.addDays(-1), 23) << 2;
    // Clocks go forward on 8 March and back on 1 November 2026.
    QTest::newRow("spring forward") << QList{at(QDate(2026, 3, 7), 23, 30), at(QDate(2026, 3, 8), 3, 30),
                                             at(QDate(2026, 3, 9), 0, 10)}
                                    << at(QDate(2026, 3, 9), 8) << 3;
    QTest::newRow("fall back") << QList{at(QDate(2026, 10, 31), 23, 30), at(QDate(2026, 11, 1), 23, 30),
                                        at(QDate(2026, 11, 2), 0, 30)}
                               << at(QDate(2026, 11, 2), 0, 45) << 3;
}

void tst_VoiceProfileStore::streak()
{
    QFETCH(QList<QDateTime>, sessions);
    QFETCH(QDateTime, now);
    QFETCH(int, expected);
    auto store = openStore(path());
    for (const QDateTime &when : sessions) {
        m_now = when;
        store->logSession(10, 5, "en", "words", "words");
    }
    m_now = now;
    QCOMPARE(store->streakDays(), expected);
}

void tst_VoiceProfileStore::sharedStoreDrainsWhenTheApplicationQuits()
{
    FakePlatform::installNew();
    const QString file = VoiceProfileStore::defaultDatabasePath();
    VoiceProfileStore &store = VoiceProfileStore::shared();
    for (int i = 0; i < 2000; ++i)
        store.recordWords({QStringLiteral("word%1").arg(i)}, "en");
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    QCOMPARE(sqliteRows(file, "SELECT COUNT(*) FROM vocabulary"), QStringList{"2000"});
    // Closing checkpointed the journal into the main file; later calls find no database.
    QVERIFY(!QFileInfo::exists(file + "-wal") || QFileInfo(file + "-wal").size() == 0);
    store.recordWords({"late"}, "en");
    QCOMPARE(store.vocabularyCount(), 0);
}

QTEST_GUILESS_MAIN(tst_VoiceProfileStore)
#include "tst_VoiceProfileStore.moc"
