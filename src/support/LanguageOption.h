#pragma once

#include "support/EnumNames.h"

#include <QString>

// The twelve dictation languages; stored by their two-letter code.
enum class LanguageOption {
    english,
    spanish,
    chinese,
    japanese,
    french,
    german,
    portuguese,
    korean,
    arabic,
    hindi,
    italian,
    russian,
};

template <>
struct EnumNames<LanguageOption> {
    static const QList<std::pair<LanguageOption, QString>> &table();
};

namespace LanguageOptions {
// The ISO 639-1 code, also the stored raw value and id.
inline QString code(LanguageOption language) { return Enums::toString(language); }
// The locale handed to the platform speech recogniser.
QString localeIdentifier(LanguageOption language);
// The English name shown in settings.
QString displayName(LanguageOption language);
} // namespace LanguageOptions
