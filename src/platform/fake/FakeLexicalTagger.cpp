#include "FakeLexicalTagger.h"

QList<LexicalTagger::Token> FakeLexicalTagger::tag(const QString &text, const QString &language) const
{
    QMutexLocker lock(&m_mutex);
    m_languages.append(language);
    QList<Token> tokens = segment(text);
    for (Token &token : tokens) {
        if (!token.tag && m_tags.contains(token.text))
            token.tag = m_tags.value(token.text);
    }
    return tokens;
}

void FakeLexicalTagger::setTag(const QString &word, Tag tag)
{
    QMutexLocker lock(&m_mutex);
    m_tags.insert(word, tag);
}

QStringList FakeLexicalTagger::requestedLanguages() const
{
    QMutexLocker lock(&m_mutex);
    return m_languages;
}
