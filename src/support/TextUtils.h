#pragma once

#include <QString>
#include <QStringList>

namespace TextUtils {

// Number of user-perceived characters (grapheme clusters).
qsizetype graphemeCount(const QString &text);

// The last `count` grapheme clusters of text (all of it when shorter).
QString lastGraphemes(const QString &text, qsizetype count);

// The first `count` grapheme clusters of text (all of it when shorter).
QString firstGraphemes(const QString &text, qsizetype count);

// Canonical composition, so that equal words compare equal.
QString nfc(const QString &text);

// Whitespace and line breaks removed at both ends.
QString trimmed(const QString &text);

// Unicode punctuation (general category P*) removed at both ends.
QString trimmedPunctuation(const QString &text);

// Pieces between runs of whitespace or line breaks; no empty pieces.
QStringList splitOnWhitespace(const QString &text);

// The comparable form of one word: lower-cased, trimmed of punctuation at
// both ends, canonically composed. "Um," and "UM" both give "um".
QString normalizedWord(const QString &piece);

// Every occurrence of `from`, found left to right without overlap, replaced by
// `to` as it stands. One pass, so long texts stay linear.
QString replacedAll(const QString &text, const QString &from, const QString &to,
                    Qt::CaseSensitivity cs = Qt::CaseSensitive);

// As replacedAll, but only where the match stands as a whole word: no letter,
// digit or combining mark directly before or after it ("ok" is not replaced
// inside "book").
QString replacedWholeWords(const QString &text, const QString &from, const QString &to,
                           Qt::CaseSensitivity cs = Qt::CaseSensitive);

// The first character (grapheme) in upper case, the rest unchanged.
QString capitalizedFirst(const QString &text);

// Upper-cases the first letter of the text and the first letter after any of
// the single characters in `sentenceEnds`. Blanks, digits and other
// non-letters in between do not use the capital up; nothing is lower-cased.
QString capitalizedSentences(const QString &text, QStringView sentenceEnds);

// The sentences of text, each trimmed of whitespace and line breaks; empty
// ones are dropped.
QStringList trimmedSentences(const QString &text);

} // namespace TextUtils
