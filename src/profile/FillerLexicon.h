#pragma once

#include <QSet>
#include <QString>

// Per-language filler words ("um", "euh", "ну", ...) and the operations the
// learning engine runs over a finished dictation. Languages are two-letter
// codes; an unknown code falls back to English.
namespace FillerLexicon {

// The full filler set; built once per process.
QSet<QString> fillerWords(const QString &code);

// The short hesitation subset (um, uh, ...).
QSet<QString> hesitationWords(const QString &code);

// The text without its filler words (a filler goes with its attached
// punctuation and one neighbouring blank). Line breaks and tabs stay where
// they were, except that a line of nothing but fillers goes with its break;
// blanks left before "," and "." are pulled onto the word.
QString removeFillers(const QString &text, const QString &code, bool hesitationOnly);

// Fillers in the text, by the full set.
int countFillers(const QString &text, const QString &code);

// Fillers per 100 words, by the full set; 0 for a text without words.
double fillerDensity(const QString &text, const QString &code);

} // namespace FillerLexicon
