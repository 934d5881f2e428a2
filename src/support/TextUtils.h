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

} // namespace TextUtils
