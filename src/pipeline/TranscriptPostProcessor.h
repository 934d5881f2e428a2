#pragma once

#include "pipeline/RewriteService.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class ModelManager;

// Turns the platform recogniser's transcript and the two Whisper transcripts
// of one recording into the final text: weighted merge, then polish. Lives on
// the main thread.
class TranscriptPostProcessor : public QObject {
    Q_OBJECT
public:
    struct Candidate {
        QString text;
        double weight = 0.0;
    };

    // Source weights, keyed "apple" (the live recogniser), "whisperBase", "whisperLarge".
    static double weight(const QString &source);

    TranscriptPostProcessor(ModelManager *modelManager, std::unique_ptr<RewriteService> rewriteService,
                            QObject *parent = nullptr);
    ~TranscriptPostProcessor() override;

    // Never fails; blank or absent sources are skipped, none at all gives "".
    QFuture<QString> process(const QString &live, const std::optional<QString> &whisperBase,
                             const std::optional<QString> &whisperLarge);

    // Polish through the rewrite service, else the rule-based cleanup.
    QFuture<QString> polish(const QString &text);

    // Called with at least two candidates.
    static QString mergeCandidates(QList<Candidate> candidates);
    static double jaccardSimilarity(const QString &a, const QString &b);
    static bool isHallucination(const QString &text);
    static QString ruleBasedCleanup(const QString &text);
    static QString capitalizeSentences(const QString &text);
    static QString removeDuplicateWords(const QString &text);

private:
    ModelManager *m_modelManager;
    std::unique_ptr<RewriteService> m_rewriteService;
};
