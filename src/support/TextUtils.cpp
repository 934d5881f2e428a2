#include "TextUtils.h"

#include <QRegularExpression>
#include <QStringMatcher>
#include <QTextBoundaryFinder>

#include <optional>

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

// Steps from one grapheme cluster to the next. Between two characters below
// U+0300 (no combining marks, surrogates, Hangul or emoji joiners) there is
// always a boundary, except inside CR LF; only other text pays for the full
// boundary analysis, built once on first need.
class GraphemeWalker {
public:
    explicit GraphemeWalker(const QString &text) : m_text(text) {}

    // The end of the cluster that starts at `at`.
    qsizetype next(qsizetype at)
    {
        const qsizetype size = m_text.size();
        if (at + 1 >= size)
            return size;
        const char16_t current = m_text.at(at).unicode();
        const char16_t following = m_text.at(at + 1).unicode();
        if (current < 0x300 && following < 0x300 && !(current == u'\r' && following == u'\n'))
            return at + 1;
        if (!m_finder)
            m_finder.emplace(QTextBoundaryFinder::Grapheme, m_text);
        m_finder->setPosition(at);
        const qsizetype end = m_finder->toNextBoundary();
        return end > at ? end : size;
    }

private:
    const QString &m_text;
    std::optional<QTextBoundaryFinder> m_finder;
};

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
    GraphemeWalker walker(text);
    qsizetype count = 0;
    for (qsizetype at = 0; at < text.size(); at = walker.next(at))
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
    const qsizetype first = GraphemeWalker(text).next(0);
    return text.left(first).toUpper() + text.mid(first);
}

QString capitalizedSentences(const QString &text, QStringView sentenceEnds)
{
    QString result;
    result.reserve(text.size());
    bool capitalizeNext = true;
    GraphemeWalker walker(text);
    for (qsizetype start = 0, end = 0; start < text.size(); start = end) {
        end = walker.next(start);
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
