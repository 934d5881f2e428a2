#include "RewritePreset.h"

const QList<std::pair<RewritePreset, QString>> &EnumNames<RewritePreset>::table()
{
    static const QList<std::pair<RewritePreset, QString>> names = {
        {RewritePreset::grammarCorrect, QStringLiteral("grammarCorrect")},
        {RewritePreset::professional, QStringLiteral("professional")},
        {RewritePreset::casualSpoken, QStringLiteral("casualSpoken")},
        {RewritePreset::concise, QStringLiteral("concise")},
    };
    return names;
}
