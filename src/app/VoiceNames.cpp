#include "VoiceNames.h"

#include "support/TextUtils.h"

#include <algorithm>

namespace {
// Each whitespace-separated word: first letter upper case, the rest lower.
QString capitalizedWords(const QString &text)
{
    QString out;
    bool wordStart = true;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString piece = text.mid(i, length);
        const bool space = piece.at(0).isSpace();
        out += space ? piece : wordStart ? piece.toUpper() : piece.toLower();
        wordStart = space;
        i += length;
    }
    return out;
}

// The id split at its first underscore, empty pieces skipped and not counted.
QStringList prefixAndName(const QString &id)
{
    QStringList parts;
    qsizetype start = 0;
    while (parts.isEmpty()) {
        const qsizetype underscore = id.indexOf(QLatin1Char('_'), start);
        if (underscore < 0)
            break;
        if (underscore > start)
            parts << id.mid(start, underscore - start);
        start = underscore + 1;
    }
    if (start < id.size())
        parts << id.mid(start);
    return parts;
}
} // namespace

namespace VoiceNames {

QString accentName(const QString &prefix)
{
    const QString first = TextUtils::firstGraphemes(prefix, 1);
    static const QList<std::pair<QString, QString>> accents = {
        {QStringLiteral("a"), QStringLiteral("American")}, {QStringLiteral("b"), QStringLiteral("British")},
        {QStringLiteral("e"), QStringLiteral("Spanish")},  {QStringLiteral("f"), QStringLiteral("French")},
        {QStringLiteral("h"), QStringLiteral("Hindi")},    {QStringLiteral("i"), QStringLiteral("Italian")},
        {QStringLiteral("j"), QStringLiteral("Japanese")}, {QStringLiteral("p"), QStringLiteral("Portuguese")},
        {QStringLiteral("z"), QStringLiteral("Chinese")},
    };
    for (const auto &[letter, accent] : accents) {
        if (first == letter)
            return accent;
    }
    return first.toUpper();
}

QString voiceDisplayName(const QString &id)
{
    const QStringList parts = prefixAndName(id);
    if (parts.size() != 2 || TextUtils::graphemeCount(parts[0]) != 2)
        return capitalizedWords(id);
    const QString &prefix = parts[0];
    const QString genderLetter = prefix.mid(TextUtils::firstGraphemes(prefix, 1).size());
    const QString gender = genderLetter == QLatin1String("f") ? QStringLiteral("Female") : QStringLiteral("Male");
    return QStringLiteral("%1 %2 — %3").arg(accentName(prefix), gender, capitalizedWords(parts[1]));
}

QList<Section> sections(const QStringList &availableVoices)
{
    QList<Section> all = {{QStringLiteral("🇬🇧 British"), {}},
                          {QStringLiteral("🇺🇸 American"), {}},
                          {QStringLiteral("🌍 Other"), {}}};
    for (const QString &id : availableVoices) {
        if (id.startsWith(QLatin1Char('b')))
            all[0].voiceIds << id;
        else if (id.startsWith(QLatin1Char('a')))
            all[1].voiceIds << id;
        else
            all[2].voiceIds << id;
    }
    QList<Section> present;
    for (Section &section : all) {
        if (section.voiceIds.isEmpty())
            continue;
        std::sort(section.voiceIds.begin(), section.voiceIds.end());
        present << section;
    }
    return present;
}

} // namespace VoiceNames
