#pragma once

#include <QString>
#include <QStringList>

class VoiceProfileStore;

// Folds each dictated text's sentence length, word length, vocabulary
// richness and formality into moving averages kept in the profile, with
// running totals of words and texts analysed.
class StyleAnalyzer {
public:
    explicit StyleAnalyzer(VoiceProfileStore &store);

    void analyze(const QString &text);

    // Share of formal words among the formal and informal ones found; 0.5
    // when there are none.
    static double formalityScore(const QStringList &words);

    // Moves the stored metric toward value by alpha (stores value when unset).
    void updateMetric(const QString &key, double value, double alpha = 0.3);

private:
    VoiceProfileStore &m_store;
};
