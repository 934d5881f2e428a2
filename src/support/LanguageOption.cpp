#include "LanguageOption.h"

namespace {
struct LanguageRow {
    LanguageOption language;
    const char *code;
    const char *locale;
    const char *displayName;
};

constexpr LanguageRow kLanguages[] = {
    {LanguageOption::english, "en", "en-US", "English"},
    {LanguageOption::spanish, "es", "es-ES", "Spanish"},
    {LanguageOption::chinese, "zh", "zh-CN", "Chinese"},
    {LanguageOption::japanese, "ja", "ja-JP", "Japanese"},
    {LanguageOption::french, "fr", "fr-FR", "French"},
    {LanguageOption::german, "de", "de-DE", "German"},
    {LanguageOption::portuguese, "pt", "pt-BR", "Portuguese"},
    {LanguageOption::korean, "ko", "ko-KR", "Korean"},
    {LanguageOption::arabic, "ar", "ar-SA", "Arabic"},
    {LanguageOption::hindi, "hi", "hi-IN", "Hindi"},
    {LanguageOption::italian, "it", "it-IT", "Italian"},
    {LanguageOption::russian, "ru", "ru-RU", "Russian"},
};

const LanguageRow &row(LanguageOption language)
{
    for (const LanguageRow &r : kLanguages) {
        if (r.language == language)
            return r;
    }
    return kLanguages[0];
}
} // namespace

const QList<std::pair<LanguageOption, QString>> &EnumNames<LanguageOption>::table()
{
    static const QList<std::pair<LanguageOption, QString>> names = [] {
        QList<std::pair<LanguageOption, QString>> list;
        for (const LanguageRow &r : kLanguages)
            list.append({r.language, QString::fromLatin1(r.code)});
        return list;
    }();
    return names;
}

namespace LanguageOptions {
QString localeIdentifier(LanguageOption language)
{
    return QString::fromLatin1(row(language).locale);
}

QString displayName(LanguageOption language)
{
    return QString::fromLatin1(row(language).displayName);
}
} // namespace LanguageOptions
