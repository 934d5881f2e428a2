#include "AdaptiveLearningEngine.h"

#include "FillerLexicon.h"
#include "InsightEngine.h"
#include "StyleAnalyzer.h"
#include "VocabularyTracker.h"
#include "VoiceProfileStore.h"

#include "support/Handover.h"
#include "support/TextUtils.h"

#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <memory>
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
    stats.wordCount = int(TextUtils::splitOnWhitespace(stats.cleanedText).size());
    const QStringList words = tokenize(stats.cleanedText);
    const QString styleText = finalText.isEmpty() ? stats.cleanedText : finalText;

    // Everything that needs the database runs on the store's queue, as one
    // unit: the text is delivered without waiting for it, and a file held by
    // another program costs this session's learning and nothing else.
    VoiceProfileStore &store = m_store;
    auto added = std::make_shared<int>(0);
    const int wordCount = stats.wordCount;
    auto learn = [&store, added, words, code, styleText, duration, wordCount, raw, finalText] {
        const int before = store.vocabularyCount();
        if (!words.isEmpty()) {
            store.recordWords(words, code);
            store.recordPhrases(nGrams(words, 2) + nGrams(words, 3), code);
            VocabularyTracker(store).detectTerms(words, code);
        }
        *added = std::max(0, store.vocabularyCount() - before);
        StyleAnalyzer(store).analyze(styleText);
        store.logSession(duration, wordCount, code, raw, finalText);
        if (!finalText.isEmpty() && TextUtils::nfc(finalText) != TextUtils::nfc(raw))
            recordCorrections(store, raw, finalText);
    };
    // Called on the store's queue; the stats are published on ours.
    auto learnt = [self = QPointer<AdaptiveLearningEngine>(this), stats, added](bool landed) {
        if (QCoreApplication *app = QCoreApplication::instance()) {
            Handover::post(app, [self, stats, uniqueWordsAdded = landed ? *added : 0]() mutable {
                stats.uniqueWordsAdded = uniqueWordsAdded;
                if (self)
                    self->publish(stats);
            });
        }
    };
    m_store.writeTogether(QStringLiteral("the dictation's learning"), std::move(learn), std::move(learnt));

    m_insights.recordSession(stats.cleanedText, stats.wordCount, duration, code);
    return stats;
}

void AdaptiveLearningEngine::publish(const SessionStats &stats)
{
    if (m_lastSessionStats == stats)
        return;
    m_lastSessionStats = stats;
    emit lastSessionStatsChanged();
}

void AdaptiveLearningEngine::recordCorrections(VoiceProfileStore &store, const QString &raw, const QString &finalText)
{
    const QHash<QString, int> rawCounts = wordCounts(raw);
    const QHash<QString, int> finalCounts = wordCounts(finalText);
    for (auto it = rawCounts.cbegin(); it != rawCounts.cend(); ++it) {
        // English fillers are dropped on purpose, whatever the session's language.
        if (finalCounts.value(it.key()) < it.value() && !FillerLexicon::removeFillers(it.key(), QStringLiteral("en"), false).isEmpty())
            store.recordCorrection(it.key(), QStringLiteral("[removed]"));
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
