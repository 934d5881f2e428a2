#include "ASRModelPreference.h"

const QList<std::pair<ASRModelPreference, QString>> &EnumNames<ASRModelPreference>::table()
{
    static const QList<std::pair<ASRModelPreference, QString>> names = {
        {ASRModelPreference::parallelFast, QStringLiteral("parallelFast")},
        {ASRModelPreference::auto_, QStringLiteral("auto")},
        {ASRModelPreference::appleSpeechFast, QStringLiteral("appleSpeechFast")},
        {ASRModelPreference::whisperMode, QStringLiteral("whisperMode")},
        {ASRModelPreference::whisperBase, QStringLiteral("whisperBase")},
        {ASRModelPreference::whisperLargeV3, QStringLiteral("whisperLargeV3")},
        {ASRModelPreference::cloudflareWhisper, QStringLiteral("cloudflareWhisper")},
    };
    return names;
}

namespace ASRModelPreferences {
std::optional<QString> pickerLabel(ASRModelPreference preference)
{
    switch (preference) {
    case ASRModelPreference::parallelFast:
        return QStringLiteral("Parallel (Live + Whisper)");
    case ASRModelPreference::auto_:
        return QStringLiteral("Live Speech Only");
    case ASRModelPreference::whisperBase:
        return QStringLiteral("Whisper Base Only");
    case ASRModelPreference::whisperLargeV3:
        return QStringLiteral("Whisper Large Only");
    case ASRModelPreference::cloudflareWhisper:
        return QStringLiteral("Cloud AI");
    case ASRModelPreference::appleSpeechFast:
    case ASRModelPreference::whisperMode:
        break;
    }
    return std::nullopt;
}
} // namespace ASRModelPreferences
