#pragma once

#include "pipeline/RewritePreset.h"
#include "support/LanguageOption.h"

#include <QFuture>
#include <QString>

// Rewrites a text in a style. Never fails: blank input gives the empty text,
// any problem gives (at worst) the trimmed input.
class RewriteService {
public:
    virtual ~RewriteService() = default;
    virtual QFuture<QString> rewrite(const QString &text, RewritePreset preset, LanguageOption language) = 0;
};
