#pragma once

#include "platform/LexicalTagger.h"

// English only, by rules: closed-class word lists, frequent verbs and
// adjectives, suffixes, the left neighbour, and capitalisation for names.
// Words of other languages are tagged as other words.
class RuleBasedLexicalTagger : public LexicalTagger {
public:
    QList<Token> tag(const QString &text, const QString &language) const override;
};
