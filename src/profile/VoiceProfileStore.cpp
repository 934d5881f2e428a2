#include "VoiceProfileStore.h"

#include "ProfileDatabase.h"
#include "SqliteStatement.h"

#include "platform/Paths.h"
#include "platform/Platform.h"
#include "support/Log.h"
#include "support/SerialExecutor.h"
#include "support/SharedInstance.h"
#include "support/TextUtils.h"

#include <QCoreApplication>
#include <QDir>

namespace {
constexpr const char *kTag = "VoiceProfileStore";

// Words, phrases and terms are keyed by their lowercased canonical form.
QString storedKey(const QString &text)
{
    return TextUtils::nfc(text.toLower());
}
} // namespace

VoiceProfileStore &VoiceProfileStore::shared()
{
    if (VoiceProfileStore *installed = SharedInstance<VoiceProfileStore>::installed())
        return *installed;
    static VoiceProfileStore store(defaultDatabasePath());
    static const bool drainsOnQuit = [] {
        if (auto *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, [] { store.shutdown(); });
        return true;
    }();
    Q_UNUSED(drainsOnQuit);
    return store;
}

void VoiceProfileStore::setShared(VoiceProfileStore *store)
{
    SharedInstance<VoiceProfileStore>::install(store);
}

QString VoiceProfileStore::defaultDatabasePath()
{
    return defaultDatabasePath(Platform::instance().paths());
}

QString VoiceProfileStore::defaultDatabasePath(Paths &paths)
{
    const QString name = QStringLiteral("voice_profile.sqlite");
    if (const std::optional<QString> container = paths.appGroupContainer())
        return QDir(*container).filePath(name);
    const QString fallback = QDir(paths.documentsDirectory()).filePath(name);
    logLine(kTag, QStringLiteral("No app data folder (%1); the voice profile is kept at %2")
                      .arg(paths.containerProblem(), fallback));
    return fallback;
}

VoiceProfileStore::VoiceProfileStore(const QString &databasePath, std::chrono::milliseconds busyTimeout)
    : m_clock([] { return QDateTime::currentDateTime(); })
    , m_database(std::make_unique<ProfileDatabase>(databasePath, busyTimeout))
    , m_queue(std::make_unique<SerialExecutor>(QStringLiteral("com.brovanith.profilestore")))
{
}

VoiceProfileStore::~VoiceProfileStore()
{
    SharedInstance<VoiceProfileStore>::release(this);
    shutdown();
}

void VoiceProfileStore::shutdown()
{
    m_queue->sync([this] { m_database->close(); });
}

void VoiceProfileStore::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

double VoiceProfileStore::nowSeconds() const
{
    if (m_queue->isCurrentThread() && m_jobTime)
        return *m_jobTime;
    return double(m_clock().toMSecsSinceEpoch()) / 1000.0;
}

void VoiceProfileStore::setOnWriteFailed(WriteFailureListener listener)
{
    m_queue->post([this, listener = std::move(listener)] {
        m_onWriteFailed = listener;
        if (m_onWriteFailed && !m_database->writeProblem().isEmpty())
            m_onWriteFailed(m_database->writeProblem());
    });
}

void VoiceProfileStore::write(std::function<void(ProfileDatabase &)> job)
{
    auto run = [this, job = std::move(job)] {
        if (writable())
            job(*m_database);
    };
    // Inside a job of the queue: part of that job (and of its transaction).
    if (m_queue->isCurrentThread())
        run();
    else
        m_queue->post(std::move(run));
}

// On the queue: whether a write can run; when it cannot, that is reported
// (the open already logged it).
bool VoiceProfileStore::writable()
{
    if (m_database->handle())
        return true;
    if (m_onWriteFailed && !m_database->writeProblem().isEmpty())
        m_onWriteFailed(m_database->writeProblem());
    return false;
}

void VoiceProfileStore::writeTogether(const QString &what, std::function<void()> job,
                                      std::function<void(bool)> done)
{
    const double queuedAt = nowSeconds();
    m_queue->post([this, what, queuedAt, job = std::move(job), done = std::move(done)] {
        bool landed = false;
        if (writable()) {
            m_jobTime = queuedAt;
            const QString notCommitted = m_database->inTransaction(job);
            m_jobTime.reset();
            landed = notCommitted.isEmpty();
            if (!landed) {
                m_vocabularyRows.reset(); // it may have counted rows that were rolled back
                writeFailed(notCommitted, what);
            }
        }
        if (done)
            done(landed);
    });
}

void VoiceProfileStore::writeFailed(const QString &reason, const QString &lost)
{
    const QString &path = m_database->path();
    logLine(kTag, lost.isEmpty() ? QStringLiteral("Could not save to %1: %2").arg(path, reason)
                                 : QStringLiteral("Could not save %1 to %2: %3; it is lost").arg(lost, path, reason));
    if (m_onWriteFailed)
        m_onWriteFailed(reason);
}

template <typename... Values>
void VoiceProfileStore::writeStatement(const char *sql, Values... values)
{
    write([this, sql, values...](ProfileDatabase &db) {
        SqliteStatement statement(db.handle(), sql);
        if (statement.isValid())
            statement.bindAll(values...);
        if (!statement.isValid() || !statement.execute())
            writeFailed(db.lastError());
    });
}

template <typename T>
T VoiceProfileStore::read(T empty, const std::function<T(ProfileDatabase &)> &job)
{
    T result = std::move(empty);
    m_queue->sync([&] {
        if (m_database->handle())
            result = job(*m_database);
    });
    return result;
}

// --- writes ---------------------------------------------------------------

void VoiceProfileStore::setStyleMetric(const QString &key, double value)
{
    writeStatement("INSERT INTO style_metrics (key, value) VALUES (?, ?)\n"
                   "ON CONFLICT(key) DO UPDATE SET value = excluded.value;",
                   key, value);
}

void VoiceProfileStore::recordBatch(const char *upsert, const QStringList &keys, const QString &language,
                                    std::function<void(std::optional<int>)> done)
{
    const double now = nowSeconds();
    write([this, upsert, keys, language, now, done = std::move(done)](ProfileDatabase &db) {
        SqliteStatement statement(db.handle(), upsert);
        if (!statement.isValid()) {
            writeFailed(db.lastError());
            return;
        }
        int added = 0;
        QString stepFailure;
        // One commit for the whole batch: either every row lands or none.
        const QString notCommitted = db.inTransaction([&] {
            for (const QString &key : keys) {
                statement.reset();
                statement.bindAll(key, now, language);
                added += statement.stepInsertsRow() ? 1 : 0;
                if (stepFailure.isEmpty() && statement.lastStepFailed())
                    stepFailure = db.lastError();
            }
            statement.reset();
        });
        if (!notCommitted.isEmpty() || !stepFailure.isEmpty())
            writeFailed(notCommitted.isEmpty() ? stepFailure : notCommitted);
        if (done)
            done(notCommitted.isEmpty() ? std::optional<int>(added) : std::nullopt);
    });
}

void VoiceProfileStore::recordWords(const QStringList &words, const QString &language)
{
    QStringList keys;
    keys.reserve(words.size());
    for (const QString &word : words) {
        const QString key = storedKey(word);
        if (TextUtils::graphemeCount(key) >= 2)
            keys.append(key);
    }
    recordBatch("INSERT INTO vocabulary (word, frequency, last_used, language)\n"
                "VALUES (?, 1, ?, ?)\n"
                "ON CONFLICT(word) DO UPDATE SET\n"
                "    frequency = frequency + 1,\n"
                "    last_used = excluded.last_used;",
                keys, language, [this](std::optional<int> added) {
                    if (m_vocabularyRows && added)
                        *m_vocabularyRows += *added;
                    else
                        m_vocabularyRows.reset(); // count afresh
                });
}

void VoiceProfileStore::recordPhrases(const QStringList &phrases, const QString &language)
{
    QStringList keys;
    keys.reserve(phrases.size());
    for (const QString &phrase : phrases) {
        const QString key = TextUtils::trimmed(storedKey(phrase));
        if (TextUtils::graphemeCount(key) >= 3)
            keys.append(key);
    }
    recordBatch("INSERT INTO phrases (phrase, frequency, last_used, language)\n"
                "VALUES (?, 1, ?, ?)\n"
                "ON CONFLICT(phrase) DO UPDATE SET\n"
                "    frequency = frequency + 1,\n"
                "    last_used = excluded.last_used;",
                keys, language);
}

void VoiceProfileStore::addAutoTerm(const QString &term, const QString &language)
{
    writeStatement("INSERT OR IGNORE INTO custom_dictionary (term, replacement, language, added_date, source)\n"
                   "VALUES (?, NULL, ?, ?, 'auto');",
                   storedKey(term), language, nowSeconds());
}

void VoiceProfileStore::addCustomTerm(const QString &term, const std::optional<QString> &replacement,
                                      const QString &language)
{
    writeStatement("INSERT INTO custom_dictionary (term, replacement, language, added_date, source)\n"
                   "VALUES (?, ?, ?, ?, 'manual')\n"
                   "ON CONFLICT(term) DO UPDATE SET replacement = excluded.replacement;",
                   storedKey(term), replacement, language, nowSeconds());
}

void VoiceProfileStore::removeCustomTerm(const QString &term)
{
    writeStatement("DELETE FROM custom_dictionary WHERE term = ?;", storedKey(term));
}

void VoiceProfileStore::logSession(double duration, int wordCount, const QString &language,
                                   const QString &rawTranscript, const QString &rewrittenText)
{
    writeStatement("INSERT INTO session_log (timestamp, duration_seconds, word_count, language, raw_transcript, "
                   "rewritten_text)\n"
                   "VALUES (?, ?, ?, ?, ?, ?);",
                   nowSeconds(), duration, wordCount, language, rawTranscript, rewrittenText);
}

void VoiceProfileStore::recordCorrection(const QString &original, const QString &corrected)
{
    const double now = nowSeconds();
    write([this, original = storedKey(original), corrected = storedKey(corrected), now](ProfileDatabase &db) {
        SqliteStatement lookup(db.handle(), "SELECT id, frequency FROM corrections WHERE original = ? AND corrected = ?;");
        if (!lookup.isValid()) {
            writeFailed(db.lastError());
            return;
        }
        lookup.bindAll(original, corrected);
        const bool known = lookup.step();
        SqliteStatement change(db.handle(), known ? "UPDATE corrections SET frequency = frequency + 1, last_seen = ? "
                                                    "WHERE id = ?;"
                                                  : "INSERT INTO corrections (original, corrected, frequency, last_seen) "
                                                    "VALUES (?, ?, 1, ?);");
        if (change.isValid()) {
            if (known)
                change.bindAll(now, lookup.integer64(0));
            else
                change.bindAll(original, corrected, now);
        }
        if (!change.isValid() || !change.execute())
            writeFailed(db.lastError());
    });
}

void VoiceProfileStore::addSnippet(const QString &shortcut, const QString &expansion, const QString &category)
{
    const double now = nowSeconds();
    writeStatement("INSERT INTO snippets (shortcut, expansion, category, usage_count, created_date, last_used)\n"
                   "VALUES (?, ?, ?, 0, ?, ?)\n"
                   "ON CONFLICT(shortcut) DO UPDATE SET expansion = excluded.expansion, category = excluded.category;",
                   shortcut, expansion, category, now, now);
}

void VoiceProfileStore::removeSnippet(const QString &shortcut)
{
    writeStatement("DELETE FROM snippets WHERE shortcut = ?;", shortcut);
}

// --- reads ----------------------------------------------------------------

std::optional<double> VoiceProfileStore::styleMetric(const QString &key)
{
    return read<std::optional<double>>(std::nullopt, [&](ProfileDatabase &db) -> std::optional<double> {
        SqliteStatement statement(db.handle(), "SELECT value FROM style_metrics WHERE key = ?;");
        if (!statement.isValid())
            return std::nullopt;
        statement.bind(1, key);
        if (!statement.step())
            return std::nullopt;
        return statement.real(0);
    });
}

QList<VoiceProfileStore::TopWord> VoiceProfileStore::topWords(int limit, const std::optional<QString> &language)
{
    return read<QList<TopWord>>({}, [&](ProfileDatabase &db) {
        QList<TopWord> rows;
        const QByteArray sql = QByteArray("SELECT word, frequency FROM vocabulary WHERE is_custom = 0")
                               + (language ? " AND language = ?" : "") + " ORDER BY frequency DESC LIMIT ?;";
        SqliteStatement statement(db.handle(), sql.constData());
        if (!statement.isValid())
            return rows;
        int index = 1;
        if (language)
            statement.bind(index++, *language);
        statement.bind(index, limit);
        while (statement.step())
            rows.append({statement.text(0), statement.integer(1)});
        return rows;
    });
}

int VoiceProfileStore::scalarInt(const char *sql)
{
    return read<int>(0, [sql](ProfileDatabase &db) {
        SqliteStatement statement(db.handle(), sql);
        return statement.isValid() && statement.step() ? statement.integer(0) : 0;
    });
}

int VoiceProfileStore::vocabularyCount()
{
    return read<int>(0, [this](ProfileDatabase &db) {
        if (!m_vocabularyRows) {
            SqliteStatement statement(db.handle(), "SELECT COUNT(*) FROM vocabulary;");
            if (!statement.isValid() || !statement.step())
                return 0;
            m_vocabularyRows = statement.integer(0);
        }
        return *m_vocabularyRows;
    });
}

int VoiceProfileStore::totalWords()
{
    return scalarInt("SELECT COALESCE(SUM(word_count), 0) FROM session_log;");
}

QList<VoiceProfileStore::CustomTerm> VoiceProfileStore::customTerms()
{
    return read<QList<CustomTerm>>({}, [](ProfileDatabase &db) {
        QList<CustomTerm> rows;
        SqliteStatement statement(db.handle(),
                                  "SELECT term, replacement, source FROM custom_dictionary ORDER BY added_date DESC;");
        if (!statement.isValid())
            return rows;
        while (statement.step())
            rows.append({statement.text(0), statement.optionalText(1), statement.text(2)});
        return rows;
    });
}

QList<VoiceProfileStore::RecentSession> VoiceProfileStore::recentSessions(int limit)
{
    return read<QList<RecentSession>>({}, [limit](ProfileDatabase &db) {
        QList<RecentSession> rows;
        SqliteStatement statement(db.handle(),
                                  "SELECT timestamp, duration_seconds, word_count, raw_transcript, rewritten_text "
                                  "FROM session_log ORDER BY timestamp DESC LIMIT ?;");
        if (!statement.isValid())
            return rows;
        statement.bind(1, limit);
        while (statement.step()) {
            rows.append({QDateTime::fromMSecsSinceEpoch(qRound64(statement.real(0) * 1000.0)), statement.real(1),
                         statement.integer(2), statement.text(3), statement.text(4)});
        }
        return rows;
    });
}

int VoiceProfileStore::streakDays()
{
    const QDate today = m_clock().toLocalTime().date();
    return read<int>(0, [today](ProfileDatabase &db) {
        SqliteStatement statement(db.handle(),
                                  "SELECT DISTINCT date(timestamp, 'unixepoch', 'localtime') as d FROM session_log "
                                  "ORDER BY d DESC;");
        if (!statement.isValid())
            return 0;
        int streak = 0;
        QDate checkDay = today;
        while (statement.step() && statement.text(0) == checkDay.toString(QStringLiteral("yyyy-MM-dd"))) {
            ++streak;
            checkDay = checkDay.addDays(-1);
        }
        return streak;
    });
}

double VoiceProfileStore::averageWPM()
{
    return read<double>(0.0, [](ProfileDatabase &db) {
        SqliteStatement statement(db.handle(),
                                  "SELECT COALESCE(SUM(word_count), 0), COALESCE(SUM(duration_seconds), 0) "
                                  "FROM session_log WHERE duration_seconds > 0;");
        if (!statement.isValid() || !statement.step())
            return 0.0;
        const double seconds = statement.real(1);
        return seconds > 0 ? statement.real(0) / (seconds / 60.0) : 0.0;
    });
}

QList<VoiceProfileStore::Snippet> VoiceProfileStore::snippets()
{
    return read<QList<Snippet>>({}, [](ProfileDatabase &db) {
        QList<Snippet> rows;
        SqliteStatement statement(db.handle(), "SELECT shortcut, expansion, category, usage_count FROM snippets "
                                               "ORDER BY usage_count DESC, created_date DESC;");
        if (!statement.isValid())
            return rows;
        while (statement.step())
            rows.append({statement.text(0), statement.text(1), statement.text(2), statement.integer(3)});
        return rows;
    });
}
