#include "SpokenPunctuation.h"

#include "support/TextUtils.h"

#include <QList>

namespace SpokenPunctuation {

namespace {

struct Row {
    QString phrase; // lower case
    QString mark;
};

// The order matters: "punto" runs before "punto y coma", so a later, longer
// phrase can lose its head to an earlier one.
const QList<Row> &table()
{
    static const QList<Row> rows = {
        {"period", "."},
        {"full stop", "."},
        {"comma", ","},
        {"question mark", "?"},
        {"exclamation mark", "!"},
        {"exclamation point", "!"},
        {"colon", ":"},
        {"semicolon", ";"},
        {"open quote", "\""},
        {"close quote", "\""},
        {"open parenthesis", "("},
        {"close parenthesis", ")"},
        {"hyphen", "-"},
        {"dash", " -- "},
        {"ellipsis", "..."},
        {"ampersand", "&"},
        {"at sign", "@"},
        {"hashtag", "#"},
        {"dollar sign", "$"},
        {"percent sign", "%"},
        {"asterisk", "*"},
        {"new line", "\n"},
        {"newline", "\n"},
        {"new paragraph", "\n\n"},
        {"tab", "\t"},
        {"punto", "."},
        {"coma", ","},
        {"signo de interrogacion", "?"},
        {"signo de exclamacion", "!"},
        {"dos puntos", ":"},
        {"punto y coma", ";"},
        {"nueva linea", "\n"},
        {"nuevo parrafo", "\n\n"},
        {"句号", "\u3002"},
        {"逗号", "\uFF0C"},
        {"问号", "\uFF1F"},
        {"感叹号", "\uFF01"},
        {"冒号", "\uFF1A"},
        {"分号", "\uFF1B"},
        {"换行", "\n"},
        {"新段落", "\n\n"},
        {"まる", "\u3002"},
        {"てん", "\u3001"},
        {"はてな", "\uFF1F"},
        {"びっくり", "\uFF01"},
        {"改行", "\n"},
    };
    return rows;
}

} // namespace

QString apply(const QString &text)
{
    QString result = text;
    for (const Row &row : table()) {
        const QString spoken = u' ' + row.phrase;
        // The blank before the phrase goes, the one after stays: "hello period world" -> "hello. world".
        result = TextUtils::replacedAll(result, spoken + u' ', row.mark + u' ', Qt::CaseInsensitive);
        if (result.endsWith(spoken, Qt::CaseInsensitive)) {
            result.chop(spoken.size());
            result += row.mark;
        }
    }
    return capitalizeSentences(result);
}

QString capitalizeSentences(const QString &text)
{
    return TextUtils::capitalizedSentences(text, u".?!\n");
}

} // namespace SpokenPunctuation
