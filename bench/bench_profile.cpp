// Time of one session's learning (40 words drawn from a Zipf vocabulary),
// from the call to learnFromSession until the store's queue has run its
// database work, against profiles that already hold 10^2 to 10^5 sessions, on a
// database file and, as the floor, in memory. The cost should not grow with
// the history: the goal is a 10^5 / 10^2 ratio of at most 2. Also prints the
// file's bytes per session and the interface's reads at the largest size.
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

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

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

// The in-memory database can only be filled through the store's own
// connection; sessions go in chunks so that the fill does not take minutes.
void prefillStore(VoiceProfileStore &store, int sessions, ZipfWords &zipf, const QDateTime &now)
{
    QDateTime when;
    store.setClock([&when] { return when; });
    constexpr int chunk = 250;
    for (int first = 0; first < sessions; first += chunk) {
        if (first > 0 && first % 20000 == 0)
            std::fprintf(stderr, "  filled %d of %d sessions in memory\n", first, sessions);
        QStringList words;
        QStringList phrases;
        for (int s = first; s < std::min(sessions, first + chunk); ++s) {
            when = sessionTime(now, s, sessions);
            const QStringList session = zipf.session();
            words += session;
            phrases += nGrams(session, 2) + nGrams(session, 3);
            for (const QString &w : session) {
                if (w.size() >= 8)
                    store.addAutoTerm(w, QStringLiteral("en"));
            }
            const QString text = session.join(QLatin1Char(' '));
            store.logSession(16.0, kWordsPerSession, QStringLiteral("en"), text, text);
        }
        store.recordWords(words, QStringLiteral("en"));
        store.recordPhrases(phrases, QStringLiteral("en"));
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

struct Profile {
    int sessions = 0;
    std::unique_ptr<VoiceProfileStore> store;
    std::unique_ptr<AdaptiveLearningEngine> engine;
    QList<double> samples;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int largestPower = argc > 1 ? std::clamp(std::atoi(argv[1]), 2, 5) : 5;
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTime();
    RuleBasedLexicalTagger tagger;
    InsightEngine insights(&tagger);

    std::vector<Profile> onDisk;
    std::vector<Profile> inMemory;
    QList<double> bytesPerSession;
    for (int power = 2; power <= largestPower; ++power) {
        const int sessions = int(std::pow(10, power));
        std::fprintf(stderr, "filling %d sessions\n", sessions);
        const QString path = dir.filePath(QStringLiteral("profile-%1.sqlite").arg(sessions));
        ZipfWords diskWords(30000, 42);
        prefillFile(path, sessions, diskWords, now);
        bytesPerSession.append(double(QFileInfo(path).size()) / sessions);
        ZipfWords memoryWords(30000, 42);
        auto memoryStore = std::make_unique<VoiceProfileStore>(QStringLiteral(":memory:"));
        prefillStore(*memoryStore, sessions, memoryWords, now);

        onDisk.push_back({sessions, std::make_unique<VoiceProfileStore>(path), nullptr, {}});
        inMemory.push_back({sessions, std::move(memoryStore), nullptr, {}});
    }

    // Sessions go round all the profiles in turn, so that a change in the
    // machine's load touches every size alike.
    std::fprintf(stderr, "timing\n");
    QList<Profile *> all;
    for (Profile &profile : onDisk)
        all.append(&profile);
    for (Profile &profile : inMemory)
        all.append(&profile);
    for (Profile *profile : all)
        profile->engine = std::make_unique<AdaptiveLearningEngine>(*profile->store, insights);
    ZipfWords sessionWords(30000, 7);
    for (int round = 0; round < 220; ++round) {
        const QString text = sessionWords.session().join(QLatin1Char(' '));
        for (Profile *profile : all) {
            QElapsedTimer timer;
            timer.start();
            profile->engine->learnFromSession(text, text, 16.0, LanguageOption::english);
            profile->store->vocabularyCount(); // waits for the queued learning
            const double ms = timer.nsecsElapsed() / 1e6;
            if (round >= 20) // warm-up
                profile->samples.append(ms);
        }
        QCoreApplication::processEvents(); // the insight engine's hops back
    }

    std::printf("session learning, %d-word sessions from a Zipf vocabulary of 30000 words: ms\n",
                kWordsPerSession);
    std::printf("%10s %10s %10s %10s %10s %14s\n", "sessions", "disk p50", "disk p95", "memory p50", "memory p95",
                "bytes/session");
    for (size_t i = 0; i < onDisk.size(); ++i) {
        const Figures disk = summarize(onDisk[i].samples);
        const Figures memory = summarize(inMemory[i].samples);
        std::printf("%10d %10.3f %10.3f %10.3f %10.3f %14.0f\n", onDisk[i].sessions, disk.median, disk.p95,
                    memory.median, memory.p95, bytesPerSession[i]);
    }
    VoiceProfileStore &largest = *onDisk.back().store;
    std::printf("reads at %d sessions on disk (ms): streakDays %.2f, totalWords %.2f, recentSessions(200) %.2f\n",
                onDisk.back().sessions, medianMs(5, [&] { largest.streakDays(); }),
                medianMs(5, [&] { largest.totalWords(); }), medianMs(5, [&] { largest.recentSessions(200); }));
    const double diskRatio = summarize(onDisk.back().samples).median / summarize(onDisk.front().samples).median;
    const double memoryRatio = summarize(inMemory.back().samples).median / summarize(inMemory.front().samples).median;
    std::printf("ratio 10^%d/10^2 (median): disk %.2f, memory %.2f; goal <= 2: %s\n", largestPower, diskRatio,
                memoryRatio, diskRatio <= 2.0 && memoryRatio <= 2.0 ? "met" : "NOT met");
    return 0;
}
