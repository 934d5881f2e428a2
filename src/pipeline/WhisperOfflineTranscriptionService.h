#pragma once

#include "pipeline/RealtimeTranscriptionService.h"
#include "pipeline/WhisperEngineAdapter.h"
#include "support/FutureWatch.h"

#include <QObject>

#include <chrono>
#include <memory>

class ModelManager;
class MonotonicClock;

// Transcribes on the device with an installed Whisper model: picks the model
// file for the preference, loads it into the engine at every start, passes
// samples through for live text and returns the final text within a time
// limit. Main thread only.
class WhisperOfflineTranscriptionService : public QObject, public RealtimeTranscriptionService {
    Q_OBJECT

public:
    // The longest the stop waits for the engine's final text.
    static constexpr std::chrono::seconds finalizeTimeLimit { 30 };

    WhisperOfflineTranscriptionService(ModelManager &modelManager, std::unique_ptr<WhisperEngineAdapter> engine,
                                       MonotonicClock &clock, QObject *parent = nullptr);
    ~WhisperOfflineTranscriptionService() override;

    QFuture<void> start(LanguageOption language) override;
    QFuture<void> appendAudioFrames(const AudioSamples &frames) override;
    // The engine's final text, else the last live hypothesis; empty when the
    // session produced no text at all. Never fails.
    QFuture<QString> stopAndFinalize() override;
    // The engine's text of the whole session and nothing else: fails when the
    // engine fails or takes longer than finalizeTimeLimit (the decode is then
    // cancelled).
    QFuture<QString> finalTranscript();
    QString activeASRModelName() const override { return m_activeASRModelName; }

private:
    ModelManager &m_modelManager;
    std::unique_ptr<WhisperEngineAdapter> m_engine;
    MonotonicClock &m_clock;
    LanguageOption m_language = LanguageOption::english;
    QString m_finalText;
    QString m_activeASRModelName = QStringLiteral("None");
    // Last, so that it goes first: every .then() on this object waits through it.
    Futures::FollowedFutures m_followed;
};
