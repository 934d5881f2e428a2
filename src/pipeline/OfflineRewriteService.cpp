#include "OfflineRewriteService.h"

#include "support/TextUtils.h"

#include <QList>

namespace {

const QList<std::pair<QString, QString>> &professionalReplacements()
{
    // "okay" before "ok", so "okay" goes as a whole.
    static const QList<std::pair<QString, QString>> table = {
        {"can't", "cannot"},     {"won't", "will not"},       {"don't", "do not"},
        {"doesn't", "does not"}, {"isn't", "is not"},         {"aren't", "are not"},
        {"wasn't", "was not"},   {"weren't", "were not"},     {"shouldn't", "should not"},
        {"wouldn't", "would not"}, {"couldn't", "could not"}, {"haven't", "have not"},
        {"hasn't", "has not"},   {"hadn't", "had not"},       {"didn't", "did not"},
        {"gonna", "going to"},   {"wanna", "want to"},        {"gotta", "got to"},
        {"kinda", "kind of"},    {"sorta", "sort of"},        {"yeah", "yes"},
        {"nah", "no"},           {"okay", "understood"},      {"ok", "understood"},
    };
    return table;
}

bool isSentenceEnd(QChar c)
{
    return c == u'.' || c == u'!' || c == u'?';
}

QString closedSentence(const QString &text)
{
    return !text.isEmpty() && isSentenceEnd(text.back()) ? text : text + u'.';
}

QString professional(const QString &text)
{
    // Whole words only: "book", "token" and "Hannah" must come out as they went in.
    QString result = closedSentence(TextUtils::capitalizedFirst(text));
    for (const auto &[from, to] : professionalReplacements())
        result = TextUtils::replacedWholeWords(result, from, to, Qt::CaseInsensitive);
    return result;
}

QString casualSpoken(const QString &text)
{
    QString result = text.toLower();
    if (result.endsWith(u'.'))
        result.chop(1);
    return result;
}

QString concise(const QString &text)
{
    // The first piece between sentence marks that is not blank.
    QString first = text;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isSentenceEnd(text.at(i)))
            continue;
        const QString piece = TextUtils::trimmed(text.mid(start, i - start));
        if (!piece.isEmpty()) {
            first = piece;
            break;
        }
        start = i + 1;
    }
    return closedSentence(TextUtils::capitalizedFirst(first));
}

} // namespace

OfflineRewriteService::OfflineRewriteService(ModelManager *modelManager)
    : m_modelManager(modelManager)
    , m_executor(QStringLiteral("OfflineRewriteService"))
{
}

QFuture<QString> OfflineRewriteService::rewrite(const QString &text, RewritePreset preset, LanguageOption)
{
    return m_executor.run([text, preset] {
        try {
            return rewritten(text, preset);
        } catch (...) {
            // A rewrite never fails its caller: give back the text unstyled.
            return TextUtils::trimmed(text);
        }
    });
}

QString OfflineRewriteService::rewritten(const QString &text, RewritePreset preset)
{
    const QString trimmed = TextUtils::trimmed(text);
    if (trimmed.isEmpty())
        return {};
    switch (preset) {
    case RewritePreset::grammarCorrect:
        return closedSentence(TextUtils::capitalizedFirst(trimmed));
    case RewritePreset::professional:
        return professional(trimmed);
    case RewritePreset::casualSpoken:
        return casualSpoken(trimmed);
    case RewritePreset::concise:
        return concise(trimmed);
    }
    return trimmed;
}
