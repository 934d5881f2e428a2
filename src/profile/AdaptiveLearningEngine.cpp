#include "AdaptiveLearningEngine.h"

#include "FillerLexicon.h"
#include "InsightEngine.h"
#include "StyleAnalyzer.h"
#include "VocabularyTracker.h"
#include "VoiceProfileStore.h"

#include "support/TextUtils.h"

#include <QHash>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <numeric>

namespace {
QStringList nGrams(const QStringList &words, qsizetype n)
{
    QStringList grams;
    for (qsizetype i = 0; i + n <= words.size(); ++i)
        grams.append(words.mid(i, n).join(QLatin1Char(' ')));
    return grams;
}

QHash<QString, int> wordCounts(const QString &text)
{
    QHash<QString, int> counts;
    for (const QString &piece : TextUtils::splitOnWhitespace(text.toLower())) {
        const QString word = TextUtils::normalizedWord(piece);
        if (!word.isEmpty())
            ++counts[word];
    }
    return counts;
}

// A replacement template: "$n" stands for capture group n (as many digits as
// name an existing group), a backslash makes the next character literal.
QString expandTemplate(const QString &replacement, const QRegularExpressionMatch &match)
{
    const int lastGroup = match.lastCapturedIndex();
    QString out;
    for (qsizetype i = 0; i < replacement.size(); ++i) {
        const QChar c = replacement.at(i);
        if (c == QLatin1Char('\\')) {
            if (++i < replacement.size())
                out += replacement.at(i);
        } else if (c == QLatin1Char('$') && i + 1 < replacement.size() && replacement.at(i + 1).isDigit()) {
            int group = replacement.at(++i).digitValue();
            while (i + 1 < replacement.size() && replacement.at(i + 1).isDigit()
                   && group * 10 + replacement.at(i + 1).digitValue() <= lastGroup)
                group = group * 10 + replacement.at(++i).digitValue();
            if (group <= lastGroup)
                out += match.captured(group);
        } else {
            out += c;
        }
    }
    return out;
}

// The text's composed form, with where each of its characters came from, so
// that matches found in the composed form change only their own span of the
// original. Clusters are composed one by one; a position inside one maps to -1.
struct ComposedText {
    explicit ComposedText(const QString &original)
        : text(TextUtils::nfc(original))
    {
        if (text == original) {
            origin.resize(text.size() + 1);
            std::iota(origin.begin(), origin.end(), 0);
            return;
        }
        text.clear();
        QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, original);
        for (qsizetype start = 0, end = clusters.toNextBoundary(); end > start;
             start = end, end = clusters.toNextBoundary()) {
            const QString composed = TextUtils::nfc(original.mid(start, end - start));
            origin.append(start);
            origin.insert(origin.size(), composed.size() - 1, -1);
            text += composed;
        }
        origin.append(original.size());
    }

    QString text;
    QList<qsizetype> origin;
};

QString replaceWholeTerm(const QString &text, const QString &term, const QString &replacement)
{
    const QRegularExpression pattern(QStringLiteral("\\b") + QRegularExpression::escape(term) + QStringLiteral("\\b"),
                                     QRegularExpression::CaseInsensitiveOption
                                         | QRegularExpression::UseUnicodePropertiesOption);
    if (!pattern.isValid())
        return text;
    const ComposedText composed(text);
    QString result;
    qsizetype copied = 0;
    bool replaced = false;
    for (auto it = pattern.globalMatch(composed.text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const qsizetype start = composed.origin.at(match.capturedStart());
        const qsizetype end = composed.origin.at(match.capturedEnd());
        if (start < 0 || end < 0)
            continue; // a match that splits a character is no whole term
        result += QStringView(text).mid(copied, start - copied);
        result += expandTemplate(replacement, match);
        copied = end;
        replaced = true;
    }
    if (!replaced)
        return text;
    result += QStringView(text).mid(copied);
    return result;
}
} // namespace

AdaptiveLearningEngine::AdaptiveLearningEngine(QObject *parent)
    : AdaptiveLearningEngine(VoiceProfileStore::shared(), InsightEngine::shared(), parent)
{
}

AdaptiveLearningEngine::AdaptiveLearningEngine(VoiceProfileStore &store, InsightEngine &insights, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_insights(insights)
{
}

AdaptiveLearningEngine::SessionStats AdaptiveLearningEngine::learnFromSession(const QString &raw,
                                                                              const QString &finalText,
                                                                              double duration,
                                                                              LanguageOption language)
{
    const QString code = LanguageOptions::code(language);
    SessionStats stats;
    stats.cleanedText = FillerLexicon::removeFillers(raw, code, false);
    stats.fillerCount = FillerLexicon::countFillers(raw, code);
    stats.fillerDensity = FillerLexicon::fillerDensity(raw, code);

    const int before = m_store.vocabularyCount();
    const QStringList words = tokenize(stats.cleanedText);
    if (!words.isEmpty()) {
        m_store.recordWords(words, code);
        VocabularyTracker(m_store).detectTerms(words, code);
    }
    // The queue is serial, so this count already includes the words above.
    const int after = m_store.vocabularyCount();
    stats.uniqueWordsAdded = std::max(0, after - before);

    StyleAnalyzer(m_store).analyze(finalText.isEmpty() ? stats.cleanedText : finalText);

    // Queued after the synchronous reads above: the phrase table grows with
    // the history, and the main thread must not wait for it.
    if (!words.isEmpty())
        m_store.recordPhrases(nGrams(words, 2) + nGrams(words, 3), code);

    stats.wordCount = int(TextUtils::splitOnWhitespace(stats.cleanedText).size());
    m_store.logSession(duration, stats.wordCount, code, raw, finalText);

    if (!finalText.isEmpty() && TextUtils::nfc(finalText) != TextUtils::nfc(raw))
        recordCorrections(raw, finalText);

    if (m_lastSessionStats != stats) {
        m_lastSessionStats = stats;
        emit lastSessionStatsChanged();
    }
    m_insights.recordSession(stats.cleanedText, stats.wordCount, duration, code);
    return stats;
}

void AdaptiveLearningEngine::recordCorrections(const QString &raw, const QString &finalText)
{
    const QHash<QString, int> rawCounts = wordCounts(raw);
    const QHash<QString, int> finalCounts = wordCounts(finalText);
    for (auto it = rawCounts.cbegin(); it != rawCounts.cend(); ++it) {
        // English fillers are dropped on purpose, whatever the session's language.
        if (finalCounts.value(it.key()) < it.value() && !FillerLexicon::removeFillers(it.key(), QStringLiteral("en"), false).isEmpty())
            m_store.recordCorrection(it.key(), QStringLiteral("[removed]"));
    }
}

QStringList AdaptiveLearningEngine::tokenize(const QString &text)
{
    QStringList words;
    for (const QString &piece : TextUtils::splitOnWhitespace(text)) {
        const QString word = TextUtils::trimmedPunctuation(piece);
        if (TextUtils::graphemeCount(word) >= 2)
            words.append(word);
    }
    return words;
}

QString AdaptiveLearningEngine::applyCustomDictionary(const QString &text)
{
    QString result = text;
    for (const VoiceProfileStore::CustomTerm &term : m_store.customTerms()) {
        // A blank term would match at every word boundary.
        if (term.replacement && !TextUtils::trimmed(term.term).isEmpty())
            result = replaceWholeTerm(result, term.term, *term.replacement);
    }
    return result;
}
