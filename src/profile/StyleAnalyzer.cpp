#include "StyleAnalyzer.h"

#include "VoiceProfileStore.h"

#include "support/TextUtils.h"

#include <QSet>

namespace {
const QSet<QString> &formalWords()
{
    static const QSet<QString> words{
        "therefore",    "consequently", "furthermore", "moreover", "nevertheless", "regarding",
        "accordingly",  "subsequently", "henceforth",  "whereas",  "hereby",       "pursuant",
        "notwithstanding", "aforementioned", "respectively"};
    return words;
}

const QSet<QString> &informalWords()
{
    static const QSet<QString> words{"gonna", "wanna", "kinda", "gotta", "yeah", "nah",  "hey",  "dude", "cool",
                                     "awesome", "stuff", "thing", "ok",   "okay", "yep",  "nope", "lol",  "omg",
                                     "btw",   "idk",   "tbh",   "imo",   "bruh", "yo",   "sup"};
    return words;
}
} // namespace

StyleAnalyzer::StyleAnalyzer(VoiceProfileStore &store)
    : m_store(store)
{
}

void StyleAnalyzer::analyze(const QString &text)
{
    const QString trimmed = TextUtils::trimmed(text);
    if (trimmed.isEmpty())
        return;
    const QStringList words = TextUtils::splitOnWhitespace(trimmed);
    if (words.isEmpty())
        return;
    const qsizetype sentenceCount = TextUtils::trimmedSentences(trimmed).size();
    const double wordCount = double(words.size());

    qsizetype characters = 0;
    QSet<QString> distinct;
    for (const QString &word : words) {
        characters += TextUtils::graphemeCount(TextUtils::trimmedPunctuation(word));
        distinct.insert(TextUtils::normalizedWord(word));
    }

    updateMetric(QStringLiteral("avg_sentence_length"), sentenceCount > 0 ? wordCount / double(sentenceCount) : wordCount);
    updateMetric(QStringLiteral("avg_word_length"), double(characters) / wordCount);
    updateMetric(QStringLiteral("vocabulary_richness"), double(distinct.size()) / wordCount);
    updateMetric(QStringLiteral("formality_score"), formalityScore(words));

    const QString totalWords = QStringLiteral("total_words_processed");
    m_store.setStyleMetric(totalWords, m_store.styleMetric(totalWords).value_or(0) + wordCount);
    const QString totalSessions = QStringLiteral("total_sessions_analyzed");
    m_store.setStyleMetric(totalSessions, m_store.styleMetric(totalSessions).value_or(0) + 1);
}

double StyleAnalyzer::formalityScore(const QStringList &words)
{
    if (words.isEmpty())
        return 0.5;
    int formal = 0;
    int informal = 0;
    for (const QString &word : words) {
        const QString key = TextUtils::normalizedWord(word);
        formal += formalWords().contains(key) ? 1 : 0;
        informal += informalWords().contains(key) ? 1 : 0;
    }
    if (formal + informal == 0)
        return 0.5;
    return double(formal) / double(formal + informal);
}

void StyleAnalyzer::updateMetric(const QString &key, double value, double alpha)
{
    const std::optional<double> stored = m_store.styleMetric(key);
    m_store.setStyleMetric(key, stored ? alpha * value + (1 - alpha) * *stored : value);
}
