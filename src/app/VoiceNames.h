#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// How the voice picker names and groups neural voice ids such as "bm_george":
// a two-letter prefix (accent, then "f" for female) and a name.
namespace VoiceNames {

// The accent word for a voice prefix, by its first character.
QString accentName(const QString &prefix);
// "British Male — George" for "bm_george"; other ids capitalised as a whole.
QString voiceDisplayName(const QString &id);

struct Section {
    QString header;
    QStringList voiceIds;
    friend bool operator==(const Section &, const Section &) = default;
};
// British, American, then all others; each sorted, empty ones left out.
QList<Section> sections(const QStringList &availableVoices);

} // namespace VoiceNames
