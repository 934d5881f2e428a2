#pragma once

#include "support/LanguageOption.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class InsightEngine;
class VoiceProfileStore;

// Learns from every finished dictation (words, phrases, terms, style,
// corrections, the session log) and applies the user's custom dictionary to
// text before it is delivered. Main thread only.
class AdaptiveLearningEngine : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<AdaptiveLearningEngine::SessionStats> lastSessionStats READ lastSessionStats NOTIFY
                   lastSessionStatsChanged)
public:
    struct SessionStats {
        int wordCount = 0;
        int fillerCount = 0;
        double fillerDensity = 0;
        int uniqueWordsAdded = 0;
        QString cleanedText;

        bool operator==(const SessionStats &) const = default;
    };

    // On the shared store and the shared insight engine.
    explicit AdaptiveLearningEngine(QObject *parent = nullptr);
    AdaptiveLearningEngine(VoiceProfileStore &store, InsightEngine &insights, QObject *parent = nullptr);

    // Returns at once with what the text alone tells (uniqueWordsAdded is 0);
    // the database work is queued on the store, and lastSessionStats follows
    // when it is done, with the vocabulary rows the session added.
    SessionStats learnFromSession(const QString &raw, const QString &finalText, double duration,
                                  LanguageOption language);
    QString applyCustomDictionary(const QString &text);

    // Whitespace-separated pieces trimmed of punctuation, kept when at least
    // two characters long, case unchanged.
    static QStringList tokenize(const QString &text);

    std::optional<SessionStats> lastSessionStats() const { return m_lastSessionStats; }

signals:
    void lastSessionStatsChanged();

private:
    void publish(const SessionStats &stats);
    static void recordCorrections(VoiceProfileStore &store, const QString &raw, const QString &finalText);

    VoiceProfileStore &m_store;
    InsightEngine &m_insights;
    std::optional<SessionStats> m_lastSessionStats;
};
