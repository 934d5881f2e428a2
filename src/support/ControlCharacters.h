#pragma once

#include <QString>

// Control characters (C0, DEL, C1) in text that came from elsewhere: typed
// or pasted into another application they act as keys (Enter, Ctrl+C, a
// terminal's escape sequences), written to a log they forge lines.
namespace ControlCharacters {

// The text without control characters, without the escape sequences they
// introduce (ESC or C1 sequences and strings) and without the bidirectional
// embeddings, overrides and isolates; tabs, line breaks and the
// left-to-right and right-to-left marks stay. The form in which any text
// leaves Tavrune: typed, put on the clipboard or recorded in the history
// (which the clipboard is filled from later).
QString removedForOutput(const QString &text);

// Every control character, tabs and line breaks included, and the Unicode
// line and paragraph separators written as a visible escape (\n, \x1b,
// \u2028), so that the text stays on one line.
QString escapedForLog(const QString &text);

} // namespace ControlCharacters
