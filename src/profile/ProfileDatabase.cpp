#include "ProfileDatabase.h"

#include "support/Log.h"
#include "support/PrivateFiles.h"

#include <QUrl>

#include <sqlite3.h>

namespace {
constexpr const char *kTag = "VoiceProfileStore";

constexpr const char *kSchema =
    "CREATE TABLE IF NOT EXISTS vocabulary ("
    " word TEXT PRIMARY KEY,"
    " frequency INTEGER DEFAULT 1,"
    " last_used REAL,"
    " language TEXT DEFAULT 'en',"
    " is_custom INTEGER DEFAULT 0"
    ");"
    "CREATE TABLE IF NOT EXISTS phrases ("
    " phrase TEXT PRIMARY KEY,"
    " frequency INTEGER DEFAULT 1,"
    " last_used REAL,"
    " language TEXT DEFAULT 'en'"
    ");"
    "CREATE TABLE IF NOT EXISTS style_metrics ("
    " key TEXT PRIMARY KEY,"
    " value REAL"
    ");"
    "CREATE TABLE IF NOT EXISTS custom_dictionary ("
    " term TEXT PRIMARY KEY,"
    " replacement TEXT,"
    " language TEXT DEFAULT 'en',"
    " added_date REAL,"
    " source TEXT DEFAULT 'manual'"
    ");"
    "CREATE TABLE IF NOT EXISTS session_log ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " timestamp REAL,"
    " duration_seconds REAL,"
    " word_count INTEGER,"
    " language TEXT,"
    " raw_transcript TEXT,"
    " rewritten_text TEXT"
    ");"
    "CREATE TABLE IF NOT EXISTS corrections ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " original TEXT,"
    " corrected TEXT,"
    " frequency INTEGER DEFAULT 1,"
    " last_seen REAL"
    ");"
    "CREATE TABLE IF NOT EXISTS snippets ("
    " shortcut TEXT PRIMARY KEY,"
    " expansion TEXT NOT NULL,"
    " category TEXT DEFAULT 'General',"
    " usage_count INTEGER DEFAULT 0,"
    " created_date REAL,"
    " last_used REAL"
    ");"
    "CREATE INDEX IF NOT EXISTS idx_vocab_freq ON vocabulary(frequency DESC);"
    "CREATE INDEX IF NOT EXISTS idx_phrases_freq ON phrases(frequency DESC);"
    "CREATE INDEX IF NOT EXISTS idx_session_time ON session_log(timestamp DESC);"
    "CREATE INDEX IF NOT EXISTS idx_snippets_category ON snippets(category);";
} // namespace

ProfileDatabase::ProfileDatabase(const QString &path, std::chrono::milliseconds busyTimeout)
    : m_path(path)
{
    open(busyTimeout);
    if (m_db)
        applySchema();
}

ProfileDatabase::~ProfileDatabase()
{
    close();
}

void ProfileDatabase::open(std::chrono::milliseconds busyTimeout)
{
    const int rc = sqlite3_open_v2(m_path.toUtf8().constData(), &m_db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        m_writeProblem = lastError();
        logLine(kTag, QStringLiteral("Failed to open database at %1: %2").arg(m_path, m_writeProblem));
        // The handle of a failed open can only fail; drop it.
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    // Every transcript is in here; the journal files take the file's mode.
    for (const char *suffix : {"", "-wal", "-shm"})
        PrivateFiles::restrictFile(m_path + QLatin1String(suffix));
    if (sqlite3_db_readonly(m_db, "main") == 1) {
        // Still readable: the history shows, but nothing new is kept.
        m_writeProblem = QStringLiteral("the file can only be read");
        logLine(kTag, QStringLiteral("Cannot write to the database at %1: %2").arg(m_path, m_writeProblem));
        // Its journal index cannot be made beside it: read the file as it stands.
        if (!exec("SELECT count(*) FROM sqlite_master;")) {
            sqlite3_close(m_db);
            const QByteArray uri = QUrl::fromLocalFile(m_path).toEncoded() + "?immutable=1";
            if (sqlite3_open_v2(uri.constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
                sqlite3_close(m_db);
                m_db = nullptr;
                return;
            }
        }
    }
    // Another connection holding a lock makes us wait rather than fail at once.
    sqlite3_busy_timeout(m_db, int(busyTimeout.count()));
    exec("PRAGMA journal_mode=WAL;");
    exec("PRAGMA foreign_keys=ON;");
}

void ProfileDatabase::applySchema()
{
    char *message = nullptr;
    const int rc = sqlite3_exec(m_db, kSchema, nullptr, nullptr, &message);
    const QString reason = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
    sqlite3_free(message);
    if (rc == SQLITE_OK)
        return;
    if ((rc & 0xff) == SQLITE_NOTADB) {
        // Someone else's file: leave it untouched and record nothing.
        logLine(kTag, QStringLiteral("%1 is not a database (%2); the voice profile will not be saved")
                          .arg(m_path, reason));
        close();
        m_writeProblem = QStringLiteral("%1 is not a database").arg(m_path);
        return;
    }
    logLine(kTag, QStringLiteral("Could not create the tables in %1: %2").arg(m_path, reason));
}

QString ProfileDatabase::inTransaction(const std::function<void()> &body)
{
    if (!m_db)
        return QStringLiteral("no database");
    if (!sqlite3_get_autocommit(m_db)) {
        body(); // the enclosing transaction commits or drops it all
        return {};
    }
    if (!exec("BEGIN IMMEDIATE TRANSACTION;"))
        return QStringLiteral("could not begin a transaction: %1").arg(lastError());
    body();
    if (exec("COMMIT;"))
        return {};
    const QString reason = QStringLiteral("commit failed, rolled back: %1").arg(lastError());
    if (!sqlite3_get_autocommit(m_db))
        exec("ROLLBACK;");
    return reason;
}

void ProfileDatabase::close()
{
    if (!m_db)
        return;
    if (sqlite3_close(m_db) != SQLITE_OK) {
        // Only an unfinalized statement can hold it open; close when it goes.
        logLine(kTag, QStringLiteral("Could not close the database cleanly: %1").arg(lastError()));
        sqlite3_close_v2(m_db);
    }
    m_db = nullptr;
}

bool ProfileDatabase::exec(const char *sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

QString ProfileDatabase::lastError() const
{
    return QString::fromUtf8(sqlite3_errmsg(m_db));
}
