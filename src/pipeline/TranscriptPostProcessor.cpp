#include "TranscriptPostProcessor.h"

#include "support/FutureWatch.h"
#include "support/Log.h"
#include "support/TextUtils.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <algorithm>

namespace {

const char *const tag = "PostProcessor";

// Phrases Whisper invents over silence or music.
const QStringList &hallucinationPhrases()
{
    static const QStringList phrases = {
        "[blank_audio]", "[music]", "[applause]", "[laughter]", "thank you for watching",
        "please subscribe", "thanks for watching", "see you next time", "subtitles by", "translated by",
    };
    return phrases;
}

const QStringList &cleanupMarkers()
{
    static const QStringList markers = {"[BLANK_AUDIO]", "[blank_audio]", "[Music]", "[music]"};
    return markers;
}

// The words between blanks of a lower-cased, composed copy of a text;
// punctuation stays part of a word. The words are views into `text`.
struct LowerCaseWords {
    explicit LowerCaseWords(const QString &source)
        : text(TextUtils::nfc(source.toLower()))
        , words(QStringView(text).split(u' ', Qt::SkipEmptyParts))
    {
    }
    LowerCaseWords(const LowerCaseWords &) = delete;
    LowerCaseWords &operator=(const LowerCaseWords &) = delete;

    QSet<QStringView> distinct() const { return QSet<QStringView>(words.begin(), words.end()); }

    const QString text;
    const QList<QStringView> words;
};

// Every occurrence of the marker removed with the blank before it, or else
// the one after it.
QString withoutMarker(const QString &text, const QString &marker)
{
    const QString escaped = QRegularExpression::escape(marker);
    const QRegularExpression pattern(QStringLiteral(" ") + escaped + QStringLiteral("|") + escaped
                                     + QStringLiteral(" ?"));
    return QString(text).remove(pattern);
}

QString comparable(const QString &word)
{
    return TextUtils::nfc(word.toLower());
}

QString polished(const QString &trimmed, const QString &rewritten)
{
    if (!rewritten.isEmpty() && rewritten != trimmed) {
        logLine(tag, QString::asprintf("AI polished: %d → %d chars", int(TextUtils::graphemeCount(trimmed)),
                                       int(TextUtils::graphemeCount(rewritten))));
        return rewritten;
    }
    logLine(tag, "Using rule-based cleanup");
    return TranscriptPostProcessor::ruleBasedCleanup(trimmed);
}

} // namespace

double TranscriptPostProcessor::weight(const QString &source)
{
    static const QHash<QString, double> weights = {
        {"apple", 0.3},
        {"whisperBase", 0.5},
        {"whisperLarge", 0.8},
    };
    return weights.value(source, 0.0);
}

TranscriptPostProcessor::TranscriptPostProcessor(ModelManager *modelManager,
                                                 std::unique_ptr<RewriteService> rewriteService,
                                                 QObject *parent)
    : QObject(parent)
    , m_modelManager(modelManager)
    , m_rewriteService(std::move(rewriteService))
{
}

TranscriptPostProcessor::~TranscriptPostProcessor() = default;

QFuture<QString> TranscriptPostProcessor::process(const QString &live, const std::optional<QString> &whisperBase,
                                                  const std::optional<QString> &whisperLarge)
{
    QList<Candidate> candidates;
    const auto add = [&candidates](const std::optional<QString> &text, const QString &source) {
        if (!text)
            return;
        const QString trimmed = TextUtils::trimmed(*text);
        if (!trimmed.isEmpty())
            candidates.append({trimmed, weight(source)});
    };
    add(live, QStringLiteral("apple"));
    add(whisperBase, QStringLiteral("whisperBase"));
    add(whisperLarge, QStringLiteral("whisperLarge"));

    if (candidates.isEmpty())
        return QtFuture::makeReadyFuture(QString());
    if (candidates.size() == 1)
        return polish(candidates.first().text);
    return polish(mergeCandidates(candidates));
}

QFuture<QString> TranscriptPostProcessor::polish(const QString &text)
{
    const QString trimmed = TextUtils::trimmed(text);
    if (trimmed.isEmpty())
        return QtFuture::makeReadyFuture(QString());
    // The rewrite never fails by contract; should it anyway, the cleanup stands in.
    // Nothing here needs this object, which may be gone before the rewrite ends.
    // A cancelled rewrite has no text for .onFailed() to pass on: it is a failure.
    return Futures::cancellationAsFailure(
               m_rewriteService->rewrite(trimmed, RewritePreset::grammarCorrect, LanguageOption::english))
        .then([trimmed](const QString &rewritten) { return polished(trimmed, rewritten); })
        .onFailed([trimmed] { return polished(trimmed, QString()); });
}

QString TranscriptPostProcessor::mergeCandidates(QList<Candidate> candidates)
{
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate &a, const Candidate &b) { return a.weight > b.weight; });

    const double similarity = jaccardSimilarity(candidates.at(0).text, candidates.at(1).text);
    if (similarity > 0.7) {
        logLine(tag, QString::asprintf("Models agree (%.0f%% overlap), using highest-weight", similarity * 100));
        return candidates.at(0).text;
    }

    const Candidate *best = &candidates.at(0);
    qsizetype bestLength = TextUtils::graphemeCount(best->text);
    double bestScore = best->weight * bestLength;
    for (qsizetype i = 1; i < candidates.size(); ++i) {
        const Candidate &challenger = candidates.at(i);
        const qsizetype length = TextUtils::graphemeCount(challenger.text);
        const double score = challenger.weight * length;
        if (score > 0.8 * bestScore && length > bestLength && !isHallucination(challenger.text)) {
            best = &challenger;
            bestLength = length;
            bestScore = score;
            logLine(tag, QString::asprintf("Preferred longer transcript from weight=%.1f (%d chars)",
                                           challenger.weight, int(length)));
        }
    }
    return best->text;
}

double TranscriptPostProcessor::jaccardSimilarity(const QString &a, const QString &b)
{
    const LowerCaseWords first(a);
    const LowerCaseWords second(b);
    const QSet<QStringView> firstSet = first.distinct();
    const QSet<QStringView> secondSet = second.distinct();
    if (firstSet.isEmpty() && secondSet.isEmpty())
        return 1.0;
    qsizetype shared = 0;
    for (const QStringView word : firstSet) {
        if (secondSet.contains(word))
            ++shared;
    }
    return double(shared) / double(firstSet.size() + secondSet.size() - shared);
}

bool TranscriptPostProcessor::isHallucination(const QString &text)
{
    const LowerCaseWords lower(text);
    for (const QString &phrase : hallucinationPhrases()) {
        if (lower.text.contains(phrase))
            return true;
    }
    if (lower.words.size() < 6)
        return false;
    return double(lower.distinct().size()) / double(lower.words.size()) < 0.3;
}

QString TranscriptPostProcessor::ruleBasedCleanup(const QString &text)
{
    // Duplicates go while each marker is still a word of its own, so that
    // punctuation after a marker does not stick to a repeated word. The
    // markers go before the capitals, each with one neighbouring blank, so
    // that none is left standing where a marker was and a marker's capital
    // does not use up the sentence's.
    QString result = removeDuplicateWords(text);
    for (const QString &marker : cleanupMarkers())
        result = withoutMarker(result, marker);
    result = TextUtils::trimmed(capitalizeSentences(result));
    if (!result.isEmpty() && !result.endsWith(u'.') && !result.endsWith(u'!') && !result.endsWith(u'?')
        && !result.endsWith(u','))
        result += u'.';
    return result;
}

QString TranscriptPostProcessor::capitalizeSentences(const QString &text)
{
    // Unlike dictated punctuation, a line feed does not start a sentence here.
    return TextUtils::capitalizedSentences(text, u".!?");
}

QString TranscriptPostProcessor::removeDuplicateWords(const QString &text)
{
    const QStringList words = text.split(u' ', Qt::SkipEmptyParts);
    if (words.size() < 2)
        return text;
    // The cleanup removes markers: the words on either side of one are neighbours.
    QStringList kept;
    std::optional<QString> previous;
    for (const QString &word : words) {
        if (cleanupMarkers().contains(word)) {
            kept.append(word);
            continue;
        }
        QString current = comparable(word);
        if (current != previous)
            kept.append(word);
        previous = std::move(current);
    }
    return kept.join(u' ');
}
