#pragma once

#include "support/EnumNames.h"

// The rewrite style; stored by case name.
enum class RewritePreset {
    grammarCorrect,
    professional,
    casualSpoken,
    concise,
};

template <>
struct EnumNames<RewritePreset> {
    static const QList<std::pair<RewritePreset, QString>> &table();
};

namespace RewritePresets {
constexpr RewritePreset defaultValue = RewritePreset::grammarCorrect;
}
