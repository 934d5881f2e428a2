#include "TextUtils.h"

#include <QRegularExpression>
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

} // namespace TextUtils
