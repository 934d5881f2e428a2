#include "SettingsChoices.h"

#include "app/VoiceNames.h"
#include "pipeline/ASRModelPreference.h"
#include "pipeline/RewritePreset.h"
#include "support/LanguageOption.h"

#include <QVariantMap>

namespace {
QVariantMap item(const QString &text, const QString &value)
{
    return {{QStringLiteral("text"), text}, {QStringLiteral("value"), value}};
}
} // namespace

QVariantList SettingsChoices::transcriptionModes()
{
    QVariantList items;
    const QList<ASRModelPreference> modes = Enums::allCases<ASRModelPreference>();
    for (int tag = 0; tag < modes.size(); ++tag) {
        // two stored modes have no item: no item shows as selected for them
        if (const auto text = ASRModelPreferences::pickerLabel(modes[tag])) {
            QVariantMap entry = item(*text, Enums::toString(modes[tag]));
            entry.insert(QStringLiteral("tag"), tag);
            items << entry;
        }
    }
    return items;
}

QVariantList SettingsChoices::languages()
{
    QVariantList items;
    for (const LanguageOption language : Enums::allCases<LanguageOption>())
        items << item(LanguageOptions::displayName(language), Enums::toString(language));
    return items;
}

QVariantList SettingsChoices::rewriteStyles()
{
    static const QList<std::pair<RewritePreset, QString>> texts = {
        {RewritePreset::grammarCorrect, QStringLiteral("Grammar Correct")},
        {RewritePreset::professional, QStringLiteral("Professional")},
        {RewritePreset::casualSpoken, QStringLiteral("Casual Spoken")},
        {RewritePreset::concise, QStringLiteral("Concise")},
    };
    QVariantList items;
    for (const auto &[preset, text] : texts)
        items << item(text, Enums::toString(preset));
    return items;
}

int SettingsChoices::indexOfValue(const QVariantList &items, const QString &value)
{
    for (int i = 0; i < items.size(); ++i) {
        const QVariantMap entry = items[i].toMap();
        if (!entry.value(QStringLiteral("header")).toBool() && entry.value(QStringLiteral("value")).toString() == value)
            return i;
    }
    return -1;
}

QString SettingsChoices::voiceDisplayName(const QString &id)
{
    return VoiceNames::voiceDisplayName(id);
}

QVariantList SettingsChoices::voiceSections(const QStringList &availableVoices)
{
    QVariantList sections;
    for (const auto &section : VoiceNames::sections(availableVoices))
        sections << QVariantMap{{QStringLiteral("header"), section.header}, {QStringLiteral("voices"), section.voiceIds}};
    return sections;
}

QVariantList SettingsChoices::voicePickerItems(const QStringList &availableVoices, const QString &selectedVoice,
                                              bool neuralAvailable)
{
    if (availableVoices.isEmpty())
        return {item(neuralAvailable ? QStringLiteral("Loading voices...") : QStringLiteral("Unavailable"),
                     selectedVoice)};
    QVariantList items;
    for (const auto &section : VoiceNames::sections(availableVoices)) {
        QVariantMap header = item(section.header, QString());
        header.insert(QStringLiteral("header"), true);
        items << header;
        for (const QString &id : section.voiceIds)
            items << item(VoiceNames::voiceDisplayName(id), id);
    }
    return items;
}

QString SettingsChoices::voiceStatusLine(bool modelLoaded, bool neuralAvailable, const QString &selectedVoice)
{
    if (modelLoaded)
        return QStringLiteral("Currently: ") + VoiceNames::voiceDisplayName(selectedVoice);
    if (!neuralAvailable)
        return QStringLiteral("Neural voices are unavailable on this system");
    return QStringLiteral("Loading voices...");
}

bool SettingsChoices::previewEnabled(bool modelLoaded, bool neuralAvailable, bool speaking)
{
    return (modelLoaded || !neuralAvailable) && !speaking;
}
