#include "FillerLexicon.h"

#include "support/TextUtils.h"

#include <QHash>
#include <QStringList>

namespace FillerLexicon {

namespace {

struct LanguageFillers {
    QString code;
    QStringList full;
    QStringList hesitation;
};

const QString fallbackCode = QStringLiteral("en");

// Multi-word entries (en "you know", ru "как бы", ...) never match a single
// piece; they are kept so the lexicon reads complete.
const QList<LanguageFillers> &lexicon()
{
    static const QList<LanguageFillers> table = {
        {QStringLiteral("en"),
         {"um", "uh", "umm", "uhh", "hmm", "hm", "er", "erm", "ah", "ahh", "like", "basically",
          "literally", "actually", "honestly", "right", "so", "well", "anyway", "anyways",
          "obviously", "clearly", "kinda", "sorta", "you know", "i mean", "sort of", "kind of"},
         {"um", "uh", "umm", "uhh", "hmm", "hm", "er", "erm"}},
        {QStringLiteral("es"),
         {"eh", "este", "pues", "bueno", "entonces", "ehm", "emm", "tipo", "sabes", "verdad",
          "o sea"},
         {"eh", "este", "ehm", "emm"}},
        {QStringLiteral("zh"),
         {"那个", "就是", "然后", "嗯", "这个", "对"},
         {"那个", "就是", "嗯"}},
        {QStringLiteral("ja"),
         {"えーと", "あの", "まあ", "なんか", "ちょっと", "えー"},
         {"えーと", "あの"}},
        {QStringLiteral("fr"),
         {"euh", "bah", "ben", "bon", "genre", "quoi", "voilà", "enfin", "c'est-à-dire", "bref",
          "hein", "en fait", "du coup", "tu vois"},
         {"euh", "bah", "ben"}},
        {QStringLiteral("de"),
         {"äh", "ähm", "also", "halt", "quasi", "sozusagen", "irgendwie", "eigentlich",
          "gewissermaßen", "naja", "na ja"},
         {"äh", "ähm"}},
        {QStringLiteral("pt"),
         {"tipo", "né", "assim", "então", "bom", "olha", "enfim", "pois", "sabe", "entendeu",
          "quer dizer"},
         {"tipo", "né"}},
        {QStringLiteral("ko"),
         {"음", "어", "그", "저", "그러니까", "뭐", "좀", "이제", "아니", "근데"},
         {"음", "어"}},
        {QStringLiteral("ar"),
         {"يعني", "هيك", "شو", "طيب", "بس", "والله", "اه"},
         {"يعني", "اه"}},
        {QStringLiteral("hi"),
         {"मतलब", "बोलो", "अच्छा", "तो", "ना", "वो", "ये", "बस", "है ना"},
         {"मतलब", "बस"}},
        {QStringLiteral("it"),
         {"cioè", "allora", "praticamente", "tipo", "insomma", "ecco", "dunque", "diciamo", "boh",
          "niente"},
         {"cioè", "tipo"}},
        {QStringLiteral("ru"),
         {"ну", "вот", "типа", "значит", "короче", "так", "это", "блин", "как бы", "в общем"},
         {"ну", "вот", "типа"}},
    };
    return table;
}

const QStringList unknownHesitation = {"um", "uh", "umm", "uhh"};

QSet<QString> toSet(const QStringList &words)
{
    QSet<QString> set;
    set.reserve(words.size());
    for (const QString &word : words)
        set.insert(TextUtils::nfc(word));
    return set;
}

const LanguageFillers *find(const QString &code)
{
    for (const LanguageFillers &entry : lexicon()) {
        if (entry.code == code)
            return &entry;
    }
    return nullptr;
}

const QHash<QString, QSet<QString>> &fullSets()
{
    static const QHash<QString, QSet<QString>> sets = [] {
        QHash<QString, QSet<QString>> built;
        for (const LanguageFillers &entry : lexicon())
            built.insert(entry.code, toSet(entry.full));
        return built;
    }();
    return sets;
}

bool isFiller(QStringView piece, const QSet<QString> &set)
{
    return !piece.isEmpty() && set.contains(TextUtils::normalizedWord(piece.toString()));
}

int countIn(const QStringList &pieces, const QSet<QString> &set)
{
    int count = 0;
    for (const QString &piece : pieces) {
        if (isFiller(piece, set))
            ++count;
    }
    return count;
}

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

// Runs of two or more blanks become one.
QString collapsedBlanks(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c != u' ' || !result.endsWith(u' '))
            result += c;
    }
    return result;
}

} // namespace

QSet<QString> fillerWords(const QString &code)
{
    const auto &sets = fullSets();
    const auto it = sets.constFind(code);
    return it != sets.constEnd() ? *it : sets.value(fallbackCode);
}

QSet<QString> hesitationWords(const QString &code)
{
    const LanguageFillers *entry = find(code);
    return toSet(entry ? entry->hesitation : unknownHesitation);
}

QString removeFillers(const QString &text, const QString &code, bool hesitationOnly)
{
    const QSet<QString> full = fillerWords(code);
    if (full.isEmpty())
        return text;
    const QSet<QString> chosen = hesitationOnly ? hesitationWords(code) : full;

    // Walk piece by piece, keeping each separator as it was: a dictated line
    // break or tab must survive. A filler takes one neighbouring blank with it.
    QString kept;
    kept.reserve(text.size());
    const qsizetype size = text.size();
    qsizetype start = 0;
    for (;;) {
        qsizetype end = start;
        while (end < size && !text.at(end).isSpace())
            ++end;
        const QStringView piece = QStringView(text).mid(start, end - start);
        const bool atEnd = end >= size;
        // CR LF is one line break
        const bool crlf = !atEnd && text.at(end) == u'\r' && end + 1 < size && text.at(end + 1) == u'\n';
        const qsizetype separatorSize = crlf ? 2 : 1;
        const QStringView separator = atEnd ? QStringView() : QStringView(text).mid(end, separatorSize);
        if (!isFiller(piece, chosen)) {
            kept += piece;
            kept += separator;
        } else if (separator != u" ") {
            // No blank after it: take the one before, keep the separator,
            // unless the filler was all its line had.
            if (kept.endsWith(u' '))
                kept.chop(1);
            const bool lineWasOnlyFillers = kept.isEmpty() || isLineBreak(kept.back());
            if (!(lineWasOnlyFillers && !separator.isEmpty() && isLineBreak(separator.front())))
                kept += separator;
        }
        if (atEnd)
            break;
        start = end + separatorSize;
    }

    kept = collapsedBlanks(kept);
    kept.replace(QStringLiteral(" ,"), QStringLiteral(","));
    kept.replace(QStringLiteral(" ."), QStringLiteral("."));
    return kept.trimmed();
}

int countFillers(const QString &text, const QString &code)
{
    return countIn(TextUtils::splitOnWhitespace(text), fillerWords(code));
}

double fillerDensity(const QString &text, const QString &code)
{
    const QStringList words = TextUtils::splitOnWhitespace(text);
    if (words.isEmpty())
        return 0.0;
    return 100.0 * countIn(words, fillerWords(code)) / words.size();
}

} // namespace FillerLexicon
