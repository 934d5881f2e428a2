#pragma once

#include "platform/LexicalTagger.h"

#include <QHash>
#include <QMutex>
#include <QStringList>

// Tags the words a test names (by exact spelling); other words stay untagged.
class FakeLexicalTagger : public LexicalTagger {
public:
    QList<Token> tag(const QString &text, const QString &language) const override;

    void setTag(const QString &word, Tag tag);
    // The language of every request, in order.
    QStringList requestedLanguages() const;

private:
    mutable QMutex m_mutex;
    QHash<QString, Tag> m_tags;
    mutable QStringList m_languages;
};
