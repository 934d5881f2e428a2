#include "RuleBasedLexicalTagger.h"

#include <QSet>

namespace {
using Tag = LexicalTagger::Tag;

QSet<QString> wordSet(const char *words)
{
    QSet<QString> set;
    for (const QString &word : QString::fromUtf8(words).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        set.insert(word);
    return set;
}

// Closed classes: a word here has one usual class whatever surrounds it.
const QHash<QString, Tag> &closedClasses()
{
    static const QHash<QString, Tag> table = [] {
        QHash<QString, Tag> t;
        auto add = [&t](const char *words, Tag tag) {
            for (const QString &word : wordSet(words))
                t.insert(word, tag);
        };
        add("the a an this that these those my your his her its our their some any no every each either neither "
            "all both few many much several such what which whose another",
            Tag::determiner);
        add("i me you he him she it we us they them myself yourself himself herself itself ourselves themselves "
            "mine yours hers ours theirs who whom someone anyone everyone somebody anybody everybody nobody "
            "something anything everything nothing one",
            Tag::pronoun);
        add("about above across after against along among around at before behind below beneath beside between "
            "beyond by down during except for from in inside into like near of off on onto out outside over past "
            "since through throughout till to toward towards under until up upon via with within without per",
            Tag::preposition);
        add("and but or nor so yet because although though while whereas if unless whether than as once", Tag::conjunction);
        add("be am is are was were been being have has had having do does did done will would shall should can "
            "could may might must",
            Tag::verb);
        add("not very too also just only even still already always never often sometimes usually here there now "
            "then today tomorrow yesterday soon again maybe perhaps quite really almost later ago ever rather "
            "instead together away back",
            Tag::adverb);
        add("oh ah hey hi hello bye goodbye wow yeah yes yep nope ok okay um uh hmm please thanks", Tag::interjection);
        add("two three four five six seven eight nine ten eleven twelve twenty thirty hundred thousand million "
            "billion",
            Tag::number);
        return t;
    }();
    return table;
}

// Frequent verbs in their base form and irregular inflections.
const QSet<QString> &commonVerbs()
{
    static const QSet<QString> set = wordSet(
        "say go get make know think take see come want look use find give tell work call try ask need feel become "
        "leave put mean keep let begin seem help talk turn start show hear play run move live believe hold bring "
        "happen write provide sit stand lose pay meet include continue set learn change lead understand watch "
        "follow stop create speak read allow add spend grow open walk win offer remember love consider appear buy "
        "wait serve send expect build stay fall cut reach remain suggest raise pass sell require report decide pull "
        "review discuss schedule finish plan check fix update share prepare explain agree miss return"
        " went gone said made took taken came saw seen knew known thought got gotten gave given told found felt left "
        "meant kept began begun held brought wrote written sat stood lost paid met ran led understood spoke spoken "
        "grew grown sent built spent bought won fell fallen taught caught sold chose chosen drove driven ate eaten");
    return set;
}

const QSet<QString> &commonAdjectives()
{
    static const QSet<QString> set = wordSet(
        "good new first last long great little own other old right big high different small large next early young "
        "important public bad same able best better sure free true full special easy clear recent late hard major "
        "strong possible whole real nice happy ready busy quick fast slow cheap hot cold short tall low final main "
        "fine glad sorry certain common general local simple daily weekly monthly quarterly yearly friendly likely "
        "lovely lonely costly silly ugly");
    return set;
}

// Words in -ly that are not adverbs.
const QSet<QString> &lyNouns()
{
    static const QSet<QString> set = wordSet("family reply supply apply ally rally belly jelly italy july assembly");
    return set;
}

const QSet<QString> &placePrepositions()
{
    static const QSet<QString> set = wordSet("in at from to near into across toward towards via visit visiting");
    return set;
}

const QSet<QString> &organizationSuffixes()
{
    static const QSet<QString> set = wordSet("inc corp corporation ltd llc co company group gmbh plc");
    return set;
}

bool isVerbForm(const QString &word)
{
    const QSet<QString> &verbs = commonVerbs();
    if (verbs.contains(word))
        return true;
    auto stem = [&](qsizetype cut, const QString &append = {}) {
        return word.size() - cut >= 2 && verbs.contains(word.left(word.size() - cut) + append);
    };
    if (word.endsWith(QLatin1String("ies")) && stem(3, QStringLiteral("y")))
        return true;
    if (word.endsWith(QLatin1String("es")) && stem(2))
        return true;
    if (word.endsWith(QLatin1Char('s')) && stem(1))
        return true;
    if (word.endsWith(QLatin1String("ed")) && (stem(2) || stem(1) || (word.size() > 4 && word.at(word.size() - 3) == word.at(word.size() - 4) && stem(3))))
        return true;
    if (word.endsWith(QLatin1String("ing"))
        && (stem(3) || stem(3, QStringLiteral("e")) || (word.size() > 5 && word.at(word.size() - 4) == word.at(word.size() - 5) && stem(4))))
        return true;
    return false;
}

bool hasAdjectiveSuffix(const QString &word)
{
    static const char *suffixes[] = {"ous", "ful", "ive", "able", "ible", "ical", "less", "ish", "ic"};
    if (word.size() < 5)
        return false;
    for (const char *suffix : suffixes) {
        if (word.endsWith(QLatin1String(suffix)))
            return true;
    }
    return false;
}

bool startsUpper(const QString &word)
{
    return !word.isEmpty() && QChar::isUpper(word.toUcs4().front());
}

bool isAllCaps(const QString &word)
{
    int letters = 0;
    for (const char32_t ucs : word.toUcs4()) {
        if (QChar::isLower(ucs))
            return false;
        letters += QChar::isLetter(ucs) ? 1 : 0;
    }
    return letters >= 2;
}

// What a word's left neighbour says about it.
enum class Context { none, verbFollows, nounFollows, afterNoun };

Context contextAfter(const QString &previousLower, Tag previousTag)
{
    switch (previousTag) {
    case Tag::pronoun:
        return previousLower == QLatin1String("one") ? Context::nounFollows : Context::verbFollows;
    case Tag::verb:
        // "will send" and "is meeting", but "send reports"
        return closedClasses().contains(previousLower) ? Context::verbFollows : Context::nounFollows;
    case Tag::determiner:
    case Tag::adjective:
    case Tag::number:
    case Tag::preposition:
        return previousLower == QLatin1String("to") ? Context::verbFollows : Context::nounFollows;
    case Tag::noun:
    case Tag::personalName:
    case Tag::placeName:
    case Tag::organizationName:
        return Context::afterNoun;
    case Tag::adverb:
        return previousLower == QLatin1String("not") ? Context::verbFollows : Context::none;
    default:
        return Context::none;
    }
}

Tag openClass(const QString &lower, Context context, bool sentenceStart)
{
    if (commonAdjectives().contains(lower))
        return Tag::adjective;
    if (isVerbForm(lower)) {
        const bool gerund = lower.endsWith(QLatin1String("ing"));
        if (context == Context::nounFollows || (gerund && (sentenceStart || context == Context::afterNoun)))
            return Tag::noun; // "the work", "a call", "budget meeting", "Meeting at noon"
        return Tag::verb;
    }
    if (lower.size() >= 5 && lower.endsWith(QLatin1String("ly")) && !lyNouns().contains(lower))
        return Tag::adverb;
    if (lower.size() >= 5 && lower.endsWith(QLatin1String("ing")))
        return context == Context::verbFollows ? Tag::verb : Tag::noun;
    if (lower.size() >= 5 && lower.endsWith(QLatin1String("ed")))
        return context == Context::nounFollows ? Tag::adjective : Tag::verb;
    if (hasAdjectiveSuffix(lower))
        return Tag::adjective;
    return Tag::noun;
}

// Splits "don't", "I'm", "John's" into the word and what follows the apostrophe.
std::pair<QString, QString> splitContraction(const QString &word)
{
    for (qsizetype i = word.size() - 1; i > 0; --i) {
        if (word.at(i) == QLatin1Char('\'') || word.at(i) == QChar(0x2019))
            return {word.left(i), word.mid(i + 1).toLower()};
    }
    return {word, {}};
}
} // namespace

QList<LexicalTagger::Token> RuleBasedLexicalTagger::tag(const QString &text, const QString &language) const
{
    QList<Token> tokens = segment(text);
    const bool english = language.compare(QLatin1String("en"), Qt::CaseInsensitive) == 0;

    bool sentenceStart = true;
    QString previousLower;
    Tag previousTag = Tag::punctuation; // punctuation: no left neighbour to go by
    bool previousCapitalized = false;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        Token &token = tokens[i];
        if (token.tag) {
            if (token.tag == Tag::punctuation) {
                for (const QChar c : token.text)
                    sentenceStart = sentenceStart || c == QLatin1Char('.') || c == QLatin1Char('!') || c == QLatin1Char('?');
                previousTag = Tag::punctuation; // context does not carry over punctuation
            } else if (token.tag == Tag::whitespace && token.text.contains(QLatin1Char('\n'))) {
                sentenceStart = true;
            } else if (token.tag == Tag::number) {
                previousTag = Tag::number;
                previousLower.clear();
            }
            continue;
        }
        if (!english) {
            token.tag = Tag::otherWord;
            continue;
        }

        const auto [head, tail] = splitContraction(token.text);
        const QString word = tail.isEmpty() ? token.text : head;
        const QString lower = word.toLower();

        QString nextWord;
        for (qsizetype j = i + 1; j < tokens.size(); ++j) {
            if (tokens[j].tag == Tag::whitespace)
                continue;
            if (!tokens[j].tag)
                nextWord = tokens[j].text.toLower();
            break;
        }

        Tag tag;
        const auto closed = closedClasses().constFind(lower);
        if (tail == QLatin1String("t")) {
            tag = Tag::verb; // don't, isn't, can't
        } else if (lower == QLatin1String("i")) {
            tag = Tag::pronoun;
        } else if (isAllCaps(word) && !closedClasses().contains(lower)) {
            tag = Tag::organizationName; // NASA, IBM
        } else if (startsUpper(word) && !sentenceStart) {
            if (organizationSuffixes().contains(nextWord)
                || (previousCapitalized && organizationSuffixes().contains(lower)))
                tag = Tag::organizationName;
            else if (placePrepositions().contains(previousLower))
                tag = Tag::placeName;
            else if (closed != closedClasses().constEnd())
                tag = *closed;
            else
                tag = Tag::personalName;
        } else if (closed != closedClasses().constEnd()) {
            tag = *closed;
        } else {
            tag = openClass(lower, contextAfter(previousLower, previousTag), sentenceStart);
        }

        token.tag = tag;
        previousCapitalized = startsUpper(word) && !sentenceStart;
        sentenceStart = false;
        previousLower = lower;
        // "John's car": a possessive leads into a noun.
        previousTag = tail == QLatin1String("s") && tag != Tag::pronoun ? Tag::determiner : tag;
    }
    return tokens;
}
