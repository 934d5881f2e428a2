#pragma once

#include "support/EnumNames.h"

#include <QString>

#include <optional>

// Which recognition path a dictation uses; stored by case name.
// `auto_` is stored as "auto" (the bare word is reserved in C++).
enum class ASRModelPreference {
    parallelFast,
    auto_,
    appleSpeechFast,
    whisperMode,
    whisperBase,
    whisperLargeV3,
    cloudflareWhisper,
};

template <>
struct EnumNames<ASRModelPreference> {
    static const QList<std::pair<ASRModelPreference, QString>> &table();
};

namespace ASRModelPreferences {
constexpr ASRModelPreference defaultValue = ASRModelPreference::parallelFast;
// The settings picker label; none for the modes the picker does not offer.
std::optional<QString> pickerLabel(ASRModelPreference preference);
} // namespace ASRModelPreferences
