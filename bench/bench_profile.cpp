// Main-thread time of one learnFromSession (40 words drawn from a Zipf
// vocabulary) against profiles that already hold 10^2 to 10^5 sessions, on a
// database file and, as the floor, in memory. The cost should not grow with
// the history: the goal is a 10^5 / 10^2 ratio of at most 2.
// Usage: bench_profile [largest power of ten, 2..5; default 5]
#include "platform/linux/RuleBasedLexicalTagger.h"
#include "profile/AdaptiveLearningEngine.h"
#include "profile/InsightEngine.h"
#include "profile/VoiceProfileStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThreadPool>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

constexpr int kWordsPerSession = 40;
constexpr int kSessionsPerDay = 25;

// Word ranks drawn with probability proportional to 1 / rank.
class ZipfWords {
public:
    explicit ZipfWords(int vocabularySize, quint32 seed)
        : m_random(seed)
    {
        static const char *syllables[] = {"ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo", "ze", "pa",
                                          "do", "fi", "gu", "ha", "je", "wo", "bri", "str", "an", "el"};
        QSet<QString> seen;
        QRandomGenerator shapes(seed ^ 0x9e3779b9u);
        while (m_words.size() < vocabularySize) {
            QString word;
            const int count = 1 + int(shapes.bounded(4));
            for (int i = 0; i < count; ++i)
                word += QLatin1String(syllables[shapes.bounded(20)]);
            if (m_words.size() % 500 == 7)
                word[0] = word[0].toUpper(); // a few names
            if (!seen.contains(word)) {
                seen.insert(word);
                m_words.append(word);
            }
        }
        double total = 0;
        for (int rank = 1; rank <= vocabularySize; ++rank) {
            total += 1.0 / rank;
            m_cumulative.append(total);
        }
    }

    QStringList session()
    {
        QStringList words;
        for (int i = 0; i < kWordsPerSession; ++i) {
            const double pick = m_random.generateDouble() * m_cumulative.last();
            const auto it = std::lower_bound(m_cumulative.cbegin(), m_cumulative.cend(), pick);
            words.append(m_words.at(int(it - m_cumulative.cbegin())));
        }
        return words;
    }

private:
    QRandomGenerator m_random;
    QStringList m_words;
    QList<double> m_cumulative;
};

QDateTime sessionTime(const QDateTime &now, int index, int total)
{
    return now.addSecs(-qint64(total - index) * (86400 / kSessionsPerDay));
}

QStringList nGrams(const QStringList &words, int n)
{
    QStringList grams;
    for (qsizetype i = 0; i + n <= words.size(); ++i)
        grams.append(words.mid(i, n).join(QLatin1Char(' ')).toLower());
    return grams;
}

// Writes what `sessions` learned sessions leave behind straight into the file,
// in one transaction: the store itself would take an fsync per batch.
void prefillFile(const QString &path, int sessions, ZipfWords &zipf, const QDateTime &now)
{
    { VoiceProfileStore schema(path); }
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    // A rollback journal: a write-ahead log would hold the whole fill until checkpointed.
    sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=OFF; PRAGMA cache_size=-500000; BEGIN;", nullptr,
                 nullptr, nullptr);
    auto prepare = [db](const char *sql) {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
        return statement;
    };
    sqlite3_stmt *word = prepare("INSERT INTO vocabulary (word, frequency, last_used, language) VALUES (?, 1, ?, 'en') "
                                 "ON CONFLICT(word) DO UPDATE SET frequency = frequency + 1, last_used = excluded.last_used;");
    sqlite3_stmt *phrase = prepare("INSERT INTO phrases (phrase, frequency, last_used, language) VALUES (?, 1, ?, 'en') "
                                   "ON CONFLICT(phrase) DO UPDATE SET frequency = frequency + 1, last_used = excluded.last_used;");
    sqlite3_stmt *term = prepare("INSERT OR IGNORE INTO custom_dictionary (term, replacement, language, added_date, source) "
                                 "VALUES (?, NULL, 'en', ?, 'auto');");
    sqlite3_stmt *session = prepare("INSERT INTO session_log (timestamp, duration_seconds, word_count, language, "
                                    "raw_transcript, rewritten_text) VALUES (?, 16.0, 40, 'en', ?, ?);");
    auto upsert = [](sqlite3_stmt *statement, const QString &key, double when) {
        const QByteArray utf8 = key.toUtf8();
        sqlite3_reset(statement);
        sqlite3_bind_text(statement, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        sqlite3_bind_double(statement, 2, when);
        sqlite3_step(statement);
    };
    for (int s = 0; s < sessions; ++s) {
        if (s > 0 && s % 20000 == 0)
            std::fprintf(stderr, "  filled %d of %d sessions\n", s, sessions);
        const QStringList words = zipf.session();
        const double when = sessionTime(now, s, sessions).toMSecsSinceEpoch() / 1000.0;
        for (const QString &w : words) {
            upsert(word, w.toLower(), when);
            if (w.size() >= 8)
                upsert(term, w.toLower(), when);
        }
        for (const QString &p : nGrams(words, 2) + nGrams(words, 3))
            upsert(phrase, p, when);
        const QByteArray text = words.join(QLatin1Char(' ')).toUtf8();
        sqlite3_reset(session);
        sqlite3_bind_double(session, 1, when);
        sqlite3_bind_text(session, 2, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(session, 3, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        sqlite3_step(session);
    }
    for (sqlite3_stmt *statement : {word, phrase, term, session})
        sqlite3_finalize(statement);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// The in-memory database can only be filled through the store's own connection.
void prefillStore(VoiceProfileStore &store, int sessions, ZipfWords &zipf, const QDateTime &now)
{
    QDateTime when;
    store.setClock([&when] { return when; });
    for (int s = 0; s < sessions; ++s) {
        if (s > 0 && s % 20000 == 0)
            std::fprintf(stderr, "  filled %d of %d sessions\n", s, sessions);
        when = sessionTime(now, s, sessions);
        const QStringList words = zipf.session();
        store.recordWords(words, QStringLiteral("en"));
        store.recordPhrases(nGrams(words, 2) + nGrams(words, 3), QStringLiteral("en"));
        for (const QString &w : words) {
            if (w.size() >= 8)
                store.addAutoTerm(w, QStringLiteral("en"));
        }
        const QString text = words.join(QLatin1Char(' '));
        store.logSession(16.0, kWordsPerSession, QStringLiteral("en"), text, text);
    }
    store.vocabularyCount();
    store.setClock([] { return QDateTime::currentDateTime(); });
}

struct Figures {
    double median = 0;
    double p95 = 0;
};

Figures summarize(QList<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return {samples.at(samples.size() / 2), samples.at(std::min(samples.size() - 1, qsizetype(samples.size() * 0.95)))};
}

double medianMs(int runs, const std::function<void()> &work)
{
    QList<double> samples;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        samples.append(timer.nsecsElapsed() / 1e6);
    }
    return summarize(samples).median;
}

Figures timeSessions(VoiceProfileStore &store, ZipfWords &zipf)
{
    RuleBasedLexicalTagger tagger;
    InsightEngine insights(&tagger);
    AdaptiveLearningEngine engine(store, insights);
    QList<double> samples;
    for (int i = 0; i < 220; ++i) {
        const QString text = zipf.session().join(QLatin1Char(' '));
        QElapsedTimer timer;
        timer.start();
        engine.learnFromSession(text, text, 16.0, LanguageOption::english);
        const double ms = timer.nsecsElapsed() / 1e6;
        if (i >= 20) // warm-up
            samples.append(ms);
        QCoreApplication::processEvents(); // the insight engine's hops back
    }
    store.vocabularyCount(); // let the last writes finish outside the timing
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    return summarize(samples);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int largestPower = argc > 1 ? std::clamp(std::atoi(argv[1]), 2, 5) : 5;
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTime();

    std::printf("learnFromSession, %d-word sessions, Zipf vocabulary of 30000 words; main-thread ms\n", kWordsPerSession);
    std::printf("%10s %10s %10s %10s %10s %14s\n", "sessions", "file p50", "file p95", "memory p50", "memory p95",
                "bytes/session");
    QList<Figures> file;
    QList<Figures> memory;
    QString readsLine;
    for (int power = 2; power <= largestPower; ++power) {
        const int sessions = int(std::pow(10, power));
        std::fprintf(stderr, "filling %d sessions\n", sessions);
        ZipfWords zipf(30000, 42);
        const QString path = dir.filePath(QStringLiteral("profile-%1.sqlite").arg(sessions));
        prefillFile(path, sessions, zipf, now);
        const double bytesPerSession = double(QFileInfo(path).size()) / sessions;
        {
            VoiceProfileStore store(path);
            file.append(timeSessions(store, zipf));
            if (power == largestPower) {
                readsLine = QString::asprintf(
                    "reads at %d sessions (ms): streakDays %.2f, totalWords %.2f, recentSessions(200) %.2f\n",
                    sessions, medianMs(5, [&] { store.streakDays(); }), medianMs(5, [&] { store.totalWords(); }),
                    medianMs(5, [&] { store.recentSessions(200); }));
            }
        }
        {
            std::fprintf(stderr, "filling %d sessions in memory\n", sessions);
            ZipfWords memoryZipf(30000, 42);
            VoiceProfileStore store(QStringLiteral(":memory:"));
            prefillStore(store, sessions, memoryZipf, now);
            memory.append(timeSessions(store, memoryZipf));
        }
        std::printf("%10d %10.3f %10.3f %10.3f %10.3f %14.0f\n", sessions, file.last().median, file.last().p95,
                    memory.last().median, memory.last().p95, bytesPerSession);
        std::fflush(stdout);
    }
    std::printf("%s", qPrintable(readsLine));
    const double fileRatio = file.last().median / file.first().median;
    const double memoryRatio = memory.last().median / memory.first().median;
    std::printf("ratio 10^%d/10^2 (median): file %.2f, memory %.2f; goal <= 2: %s\n", largestPower, fileRatio,
                memoryRatio, fileRatio <= 2.0 ? "met" : "NOT met");
    return 0;
}
