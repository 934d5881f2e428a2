#pragma once

#include <QList>
#include <QString>

#include <optional>

// Tags each word of a text with its lexical class. Implementations are safe to
// call from any thread.
class LexicalTagger {
public:
    enum class Tag {
        noun,
        verb,
        adjective,
        adverb,
        pronoun,
        determiner,
        preposition,
        conjunction,
        interjection,
        number,
        otherWord,
        punctuation,
        whitespace,
        personalName,
        placeName,
        organizationName,
    };

    struct Token {
        QString text;
        // None when the tagger cannot tell.
        std::optional<Tag> tag;
    };

    virtual ~LexicalTagger() = default;

    // Every token of text in order, whitespace and punctuation included.
    // language is a language code such as "en".
    virtual QList<Token> tag(const QString &text, const QString &language) const = 0;

protected:
    // The text cut at word boundaries; words are left untagged, whitespace,
    // punctuation and numbers are tagged as such.
    static QList<Token> segment(const QString &text);
};
