#include "LexicalTagger.h"

#include <QTextBoundaryFinder>

namespace {
std::optional<LexicalTagger::Tag> basicTag(const QString &piece)
{
    bool allSpace = true;
    bool allDigits = true;
    bool anyLetterOrDigit = false;
    for (const char32_t ucs : piece.toUcs4()) {
        allSpace = allSpace && QChar::isSpace(ucs);
        allDigits = allDigits && QChar::isDigit(ucs);
        anyLetterOrDigit = anyLetterOrDigit || QChar::isLetterOrNumber(ucs);
    }
    if (allSpace)
        return LexicalTagger::Tag::whitespace;
    if (allDigits)
        return LexicalTagger::Tag::number;
    if (!anyLetterOrDigit)
        return LexicalTagger::Tag::punctuation;
    return std::nullopt;
}
} // namespace

QList<LexicalTagger::Token> LexicalTagger::segment(const QString &text)
{
    QList<Token> tokens;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        if (end > start) {
            const QString piece = text.mid(start, end - start);
            tokens.append({piece, basicTag(piece)});
        }
        start = end;
    }
    return tokens;
}
