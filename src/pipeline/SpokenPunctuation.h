#pragma once

#include <QString>

// Punctuation spoken as words ("comma", "new line", "punto", "句号", "まる")
// turned into the marks themselves, then sentence starts capitalised.
namespace SpokenPunctuation {

// Every row of the table, in table order, each on the text the rows before
// left. A phrase counts only with a blank before it, so one that opens the
// text stays as spoken.
QString apply(const QString &text);

// Upper-cases the first letter of the text and after ".", "?", "!" or a line feed.
QString capitalizeSentences(const QString &text);

} // namespace SpokenPunctuation
