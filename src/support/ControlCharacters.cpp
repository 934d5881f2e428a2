#include "ControlCharacters.h"

#include <algorithm>

namespace ControlCharacters {

namespace {
constexpr char16_t kEsc = 0x1B;
constexpr char16_t kBel = 0x07;
constexpr char16_t kCsi = 0x9B; // C1 form of ESC [
constexpr char16_t kSt = 0x9C; // C1 form of ESC backslash

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool keptForTyping(char16_t c)
{
    return c == u'\t' || c == u'\n' || c == u'\r';
}

// Embeddings, overrides and isolates make typed text read other than it is.
// The plain marks (U+200E, U+200F) stay: right-to-left text needs them.
bool isDirectionalFormatting(char16_t c)
{
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool between(char16_t c, char16_t low, char16_t high)
{
    return c >= low && c <= high;
}

// Parameters, intermediates and the final byte of a control sequence starting
// at i; a sequence broken off early ends where it broke.
qsizetype afterControlSequence(const QString &text, qsizetype i)
{
    while (i < text.size() && between(text.at(i).unicode(), 0x30, 0x3F))
        ++i;
    while (i < text.size() && between(text.at(i).unicode(), 0x20, 0x2F))
        ++i;
    if (i < text.size() && between(text.at(i).unicode(), 0x40, 0x7E))
        ++i;
    return i;
}

// An operating-system command or device control string starting at i runs to
// its terminator. Without one it is no string, and only its opener goes.
qsizetype afterControlString(const QString &text, qsizetype i)
{
    for (qsizetype j = i; j < text.size(); ++j) {
        const char16_t c = text.at(j).unicode();
        if (c == kBel || c == kSt)
            return j + 1;
        if (c == kEsc && j + 1 < text.size() && text.at(j + 1) == u'\\')
            return j + 2;
    }
    return i;
}

bool opensControlString(char16_t c)
{
    // DCS, SOS, OSC, PM, APC in their C1 forms
    return c == 0x90 || c == 0x98 || c == 0x9D || c == 0x9E || c == 0x9F;
}

// The escape sequence whose ESC is at i.
qsizetype afterEscapeSequence(const QString &text, qsizetype i)
{
    qsizetype j = i + 1;
    if (j == text.size())
        return j;
    const char16_t next = text.at(j).unicode();
    if (next == u'[')
        return afterControlSequence(text, j + 1);
    // ESC P, X, ], ^ and _ are the seven-bit forms of the C1 string openers
    if (next == u'P' || next == u'X' || next == u']' || next == u'^' || next == u'_')
        return afterControlString(text, j + 1);
    while (j < text.size() && between(text.at(j).unicode(), 0x20, 0x2F))
        ++j;
    if (j < text.size() && between(text.at(j).unicode(), 0x30, 0x7E))
        ++j;
    return j;
}
} // namespace

QString removedForOutput(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const char16_t c = text.at(i).unicode();
        if (isDirectionalFormatting(c)) {
            ++i;
        } else if (!isControl(c) || keptForTyping(c)) {
            result += text.at(i);
            ++i;
        } else if (c == kEsc) {
            i = afterEscapeSequence(text, i);
        } else if (c == kCsi) {
            i = afterControlSequence(text, i + 1);
        } else if (opensControlString(c)) {
            i = afterControlString(text, i + 1);
        } else {
            ++i;
        }
    }
    return result;
}

QString escapedForLog(const QString &text)
{
    const auto needsEscape = [](QChar c) { return isControl(c.unicode()) || c == QChar(0x2028) || c == QChar(0x2029); };
    if (std::none_of(text.cbegin(), text.cend(), needsEscape))
        return text;
    QString result;
    result.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (!needsEscape(c))
            result += c;
        else if (c == u'\n')
            result += QLatin1String("\\n");
        else if (c == u'\r')
            result += QLatin1String("\\r");
        else if (c == u'\t')
            result += QLatin1String("\\t");
        else if (c.unicode() < 0x100)
            result += QStringLiteral("\\x%1").arg(uint(c.unicode()), 2, 16, QLatin1Char('0'));
        else
            result += QStringLiteral("\\u%1").arg(uint(c.unicode()), 4, 16, QLatin1Char('0'));
    }
    return result;
}

} // namespace ControlCharacters
