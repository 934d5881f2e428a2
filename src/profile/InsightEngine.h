#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class LexicalTagger;
class SerialExecutor;

// Counts the nouns and names of every dictation, tagged in the background,
// into a buffer kept on the main thread for the life of the process.
class InsightEngine : public QObject {
    Q_OBJECT
public:
    // The application's instance: the one installed, else one made on first
    // use that lives as long as the process.
    static InsightEngine &shared();
    static void setShared(InsightEngine *engine);
    // Without a tagger, the platform's is used.
    explicit InsightEngine(LexicalTagger *tagger = nullptr, QObject *parent = nullptr);
    ~InsightEngine() override;

    // Returns at once; the nouns reach the buffer later on the main thread.
    // Only the text and the language code are used.
    void recordSession(const QString &text, int wordCount, double duration, const QString &language);

    // Lowercased nouns and names of at least three characters, in text order.
    static QStringList extractNouns(const QString &text, const QString &code, const LexicalTagger &tagger);
    // The language handed to the tagger for a two-letter code.
    static QString taggingLanguage(const QString &code);

    void addToNounBuffer(const QStringList &nouns);
    const QHash<QString, int> &sessionNounBuffer() const { return m_sessionNounBuffer; }

private:
    LexicalTagger &tagger() const;

    LexicalTagger *m_tagger;
    QHash<QString, int> m_sessionNounBuffer;
    // Tagging a whole transcript is slow: never on the main thread. The
    // engine waits for what it handed over when it goes.
    std::unique_ptr<SerialExecutor> m_tagging;
};
