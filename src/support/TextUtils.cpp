#include "TextUtils.h"

#include <QRegularExpression>
#include <QStringMatcher>
#include <QTextBoundaryFinder>

namespace TextUtils {

namespace {
bool isPunctuationAt(const QString &text, qsizetype index, qsizetype *width)
{
    char32_t ucs = text.at(index).unicode();
    *width = 1;
    if (text.at(index).isHighSurrogate() && index + 1 < text.size() && text.at(index + 1).isLowSurrogate()) {
        ucs = QChar::surrogateToUcs4(text.at(index), text.at(index + 1));
        *width = 2;
    }
    return QChar::isPunct(ucs);
}

qsizetype previousCodePointStart(const QString &text, qsizetype end)
{
    if (end >= 2 && text.at(end - 1).isLowSurrogate() && text.at(end - 2).isHighSurrogate())
        return end - 2;
    return end - 1;
}

char32_t codePointAt(const QString &text, qsizetype index)
{
    if (text.at(index).isHighSurrogate() && index + 1 < text.size() && text.at(index + 1).isLowSurrogate())
        return QChar::surrogateToUcs4(text.at(index), text.at(index + 1));
    return text.at(index).unicode();
}

bool isWordCharacter(char32_t ucs)
{
    return QChar::isLetterOrNumber(ucs) || QChar::isMark(ucs);
}

// Whether text[start, end) has no word character on either side.
bool isWholeWord(const QString &text, qsizetype start, qsizetype end)
{
    if (start > 0 && isWordCharacter(codePointAt(text, previousCodePointStart(text, start))))
        return false;
    return end >= text.size() || !isWordCharacter(codePointAt(text, end));
}

template <typename Accept>
QString replaced(const QString &text, const QString &from, const QString &to, Qt::CaseSensitivity cs,
                 Accept accept)
{
    if (from.isEmpty())
        return text;
    const QStringMatcher matcher(from, cs);
    QString result;
    qsizetype copied = 0;
    qsizetype at = matcher.indexIn(text, 0);
    while (at >= 0) {
        if (accept(at, at + from.size())) {
            if (result.isNull())
                result.reserve(text.size());
            result.append(QStringView(text).mid(copied, at - copied)).append(to);
            copied = at + from.size();
            at = matcher.indexIn(text, copied);
        } else {
            at = matcher.indexIn(text, at + 1);
        }
    }
    if (copied == 0)
        return text;
    result.append(QStringView(text).mid(copied));
    return result;
}
} // namespace

qsizetype graphemeCount(const QString &text)
{
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString lastGraphemes(const QString &text, qsizetype count)
{
    if (count <= 0)
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    for (qsizetype i = 0; i < count; ++i) {
        if (finder.toPreviousBoundary() <= 0)
            return text;
    }
    return text.mid(finder.position());
}

QString firstGraphemes(const QString &text, qsizetype count)
{
    if (count <= 0)
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype i = 0; i < count; ++i) {
        if (finder.toNextBoundary() == -1)
            return text;
    }
    return text.left(finder.position());
}

QString nfc(const QString &text)
{
    return text.normalized(QString::NormalizationForm_C);
}

QString trimmed(const QString &text)
{
    return text.trimmed();
}

QString trimmedPunctuation(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    qsizetype width = 0;
    while (start < end && isPunctuationAt(text, start, &width))
        start += width;
    while (end > start) {
        const qsizetype from = previousCodePointStart(text, end);
        if (!isPunctuationAt(text, from, &width))
            break;
        end = from;
    }
    return text.mid(start, end - start);
}

QStringList splitOnWhitespace(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("\\s+"),
                                               QRegularExpression::UseUnicodePropertiesOption);
    return text.split(separators, Qt::SkipEmptyParts);
}

QString normalizedWord(const QString &piece)
{
    return nfc(trimmedPunctuation(piece.toLower()));
}

QString replacedAll(const QString &text, const QString &from, const QString &to, Qt::CaseSensitivity cs)
{
    return replaced(text, from, to, cs, [](qsizetype, qsizetype) { return true; });
}

QString replacedWholeWords(const QString &text, const QString &from, const QString &to,
                           Qt::CaseSensitivity cs)
{
    return replaced(text, from, to, cs,
                    [&text](qsizetype start, qsizetype end) { return isWholeWord(text, start, end); });
}

QString capitalizedFirst(const QString &text)
{
    if (text.isEmpty())
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    const qsizetype first = finder.toNextBoundary();
    return text.left(first).toUpper() + text.mid(first);
}

QString capitalizedSentences(const QString &text, QStringView sentenceEnds)
{
    QString result;
    result.reserve(text.size());
    bool capitalizeNext = true;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end > start; start = end, end = finder.toNextBoundary()) {
        const QStringView character = QStringView(text).mid(start, end - start);
        if (capitalizeNext && QChar::isLetter(codePointAt(text, start))) {
            result += character.toString().toUpper();
            capitalizeNext = false;
        } else {
            result += character;
        }
        if (character.size() == 1 && sentenceEnds.contains(character.front()))
            capitalizeNext = true;
    }
    return result;
}

QStringList trimmedSentences(const QString &text)
{
    QStringList sentences;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Sentence, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        const QString sentence = trimmed(text.mid(start, end - start));
        if (!sentence.isEmpty())
            sentences.append(sentence);
        start = end;
    }
    return sentences;
}

} // namespace TextUtils
