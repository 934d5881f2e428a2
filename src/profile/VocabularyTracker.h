#pragma once

#include <QString>
#include <QStringList>

class VoiceProfileStore;

// Finds terms worth keeping in a session's words (long uncommon words, and
// words capitalised like brand names) and adds them to the custom dictionary.
class VocabularyTracker {
public:
    explicit VocabularyTracker(VoiceProfileStore &store);

    // words with their case, as the session tokenised them.
    void detectTerms(const QStringList &words, const QString &code);

private:
    VoiceProfileStore &m_store;
};
