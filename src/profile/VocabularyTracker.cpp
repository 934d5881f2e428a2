#include "VocabularyTracker.h"

#include "VoiceProfileStore.h"

#include "support/TextUtils.h"

#include <QSet>

namespace {
// Everyday words, so that a long one such as "everything" is not kept.
const QSet<QString> &commonWords()
{
    static const QSet<QString> words = [] {
        const char *list =
            "the be to of and a in that have i it for not on with he as you do at this but his by from they we say "
            "her she or an will my one all would there their what so up out if about who get which go me when make "
            "can like time no just him know take people into year your good some could them see other than then now "
            "look only come its over think also back after use two how our work first well way even new want because "
            "any these give day most us something actually probably really already basically certainly literally "
            "obviously definitely apparently honestly seriously hopefully everything anything everyone someone "
            "nothing however although therefore meanwhile otherwise regardless";
        QSet<QString> set;
        for (const QString &word : QString::fromLatin1(list).split(QLatin1Char(' ')))
            set.insert(word);
        return set;
    }();
    return words;
}
} // namespace

VocabularyTracker::VocabularyTracker(VoiceProfileStore &store)
    : m_store(store)
{
}

void VocabularyTracker::detectTerms(const QStringList &words, const QString &code)
{
    for (const QString &word : words) {
        const QString lower = word.toLower();
        const qsizetype length = TextUtils::graphemeCount(word);
        if (TextUtils::graphemeCount(lower) >= 8 && !commonWords().contains(lower))
            m_store.addAutoTerm(lower, code);

        const QList<uint> codePoints = word.toUcs4();
        bool anyUpper = false;
        bool anyLower = false;
        for (const uint ucs : codePoints) {
            anyUpper = anyUpper || QChar::isUpper(ucs);
            anyLower = anyLower || QChar::isLower(ucs);
        }
        if (!anyUpper || !anyLower || length < 4)
            continue;
        const bool innerUpper = std::any_of(codePoints.begin() + 1, codePoints.end(),
                                            [](uint ucs) { return QChar::isUpper(ucs); });
        if (QChar::isLower(codePoints.first()))
            m_store.addAutoTerm(word, code); // camel case: iPhone
        else if (QChar::isUpper(codePoints.first()) && innerUpper)
            m_store.addAutoTerm(word, code); // YouTube, McDonald
    }
}
