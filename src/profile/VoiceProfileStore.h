#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class Paths;
class ProfileDatabase;
class SerialExecutor;

// The user's voice profile in one SQLite file. Writes are queued on one serial
// queue in the order they are made; reads wait on the same queue, so a read
// sees every write made before it. Without a usable database reads are empty;
// a write that does not land is logged and told to the write-failure listener.
class VoiceProfileStore {
public:
    struct TopWord {
        QString word;
        int frequency = 0;
    };
    struct CustomTerm {
        QString term;
        std::optional<QString> replacement;
        QString source;
    };
    struct RecentSession {
        QDateTime timestamp;
        double duration = 0;
        int wordCount = 0;
        QString rawTranscript;
        QString rewrittenText;
    };
    struct Snippet {
        QString shortcut;
        QString expansion;
        QString category;
        int usageCount = 0;
    };

    using Clock = std::function<QDateTime()>;

    // The application's store: the one installed, else one made on first use
    // on the default file, drained and closed when the application quits.
    static VoiceProfileStore &shared();
    static void setShared(VoiceProfileStore *store);
    // The file in the app container (or the documents directory).
    static QString defaultDatabasePath();
    static QString defaultDatabasePath(Paths &paths);

    // How long a statement waits for another program's lock before it fails.
    // Short: a read the main thread waits on may stand behind it.
    static constexpr std::chrono::milliseconds defaultBusyTimeout{250};

    // Opens (or creates) the database at path on the calling thread.
    explicit VoiceProfileStore(const QString &databasePath,
                               std::chrono::milliseconds busyTimeout = defaultBusyTimeout);
    // Runs every queued write, then closes the database.
    ~VoiceProfileStore();
    VoiceProfileStore(const VoiceProfileStore &) = delete;
    VoiceProfileStore &operator=(const VoiceProfileStore &) = delete;

    // Runs every write queued so far, then closes the database; later writes
    // do nothing and later reads are empty.
    void shutdown();

    // Where "now" comes from for stored times and for today's date. Set it
    // before using the store.
    void setClock(Clock clock);

    // Told, on the store's queue, why a write did not land: at once when the
    // database could not be opened for writing, then for every failed write.
    using WriteFailureListener = std::function<void(const QString &reason)>;
    void setOnWriteFailed(WriteFailureListener listener);

    // Queues job to run as one transaction: the operations it calls run at
    // once, its reads see its own writes, and its writes land together or not
    // at all. When they do not (the file is held by another program, say),
    // the failure is logged naming what was lost. done, if given, is told on
    // the store's queue whether the writes landed.
    void writeTogether(const QString &what, std::function<void()> job, std::function<void(bool landed)> done = {});

    // Writes: queued, return at once (run at once inside writeTogether).
    void setStyleMetric(const QString &key, double value);
    void recordWords(const QStringList &words, const QString &language);
    void recordPhrases(const QStringList &phrases, const QString &language);
    void addAutoTerm(const QString &term, const QString &language);
    void addCustomTerm(const QString &term, const std::optional<QString> &replacement, const QString &language);
    void removeCustomTerm(const QString &term);
    void logSession(double duration, int wordCount, const QString &language, const QString &rawTranscript,
                    const QString &rewrittenText);
    void recordCorrection(const QString &original, const QString &corrected);
    void addSnippet(const QString &shortcut, const QString &expansion, const QString &category);
    void removeSnippet(const QString &shortcut);

    // Reads: wait for the queue, then return.
    std::optional<double> styleMetric(const QString &key);
    QList<TopWord> topWords(int limit, const std::optional<QString> &language = std::nullopt);
    int vocabularyCount();
    QList<CustomTerm> customTerms();
    int totalWords();
    QList<RecentSession> recentSessions(int limit);
    // Consecutive local calendar days with a session, ending today.
    int streakDays();
    double averageWPM();
    QList<Snippet> snippets();

private:
    friend class tst_VoiceProfileStore; // queues raw blocks to prove reads cannot deadlock

    double nowSeconds() const;
    void write(std::function<void(ProfileDatabase &)> job);
    bool writable();
    // On the queue: logs SQLite's reason (and what is lost) and tells the listener.
    void writeFailed(const QString &reason, const QString &lost = {});
    // Queues one statement with the values bound in order.
    template <typename... Values>
    void writeStatement(const char *sql, Values... values);
    template <typename T>
    T read(T empty, const std::function<T(ProfileDatabase &)> &job);
    int scalarInt(const char *sql);
    // Returns how many rows the batch added, or none when it was not committed.
    void recordBatch(const char *upsert, const QStringList &keys, const QString &language,
                     std::function<void(std::optional<int> added)> done = {});

    Clock m_clock;
    // The time a writeTogether job was queued, while it runs: what it stores
    // is dated when it happened. Touched only on the queue.
    std::optional<double> m_jobTime;
    WriteFailureListener m_onWriteFailed; // touched only on the queue
    // Rows of the vocabulary, counted once and then kept up to date by the word
    // batches, so that the count per session does not grow with the history.
    // Touched only on the queue.
    std::optional<int> m_vocabularyRows;
    std::unique_ptr<ProfileDatabase> m_database;
    // Last member: destroyed first, so its queued jobs still find the database.
    std::unique_ptr<SerialExecutor> m_queue;
};
