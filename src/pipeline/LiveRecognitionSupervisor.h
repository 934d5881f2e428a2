#pragma once

#include "pipeline/AudioSamples.h"
#include "support/FutureWatch.h"
#include "support/LanguageOption.h"
#include "support/MonotonicClock.h"

#include <QFuture>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class RecognitionRequest;
class RecognitionTask;
class SpeechRecognition;
class SpeechRecognizer;
struct SpeechRecognitionResult;

// Keeps the on-device recogniser running for one dictation at a time: starts
// it, restarts it (with a throttle and a backoff) whenever its task ends,
// holds the batches that arrive during a restart, and keeps the live text
// complete across restarts and window slides by freezing finished segments.
// Main thread only; results from the recogniser's thread are handed over.
class LiveRecognitionSupervisor : public QObject {
    Q_OBJECT

public:
    using TextHandler = std::function<void(const QString &)>;

    static constexpr qsizetype maxPendingBatches = 50;
    // Failed restarts before live recognition is given up for the dictation.
    static constexpr int maxRestartAttempts = 8;

    LiveRecognitionSupervisor(SpeechRecognition &recognition, MonotonicClock &clock, QObject *parent = nullptr);
    ~LiveRecognitionSupervisor() override;

    // Called with the live text each time it is reported.
    void setOnLiveText(TextHandler handler) { m_onLiveText = std::move(handler); }

    // A new dictation: whatever the previous one left running stops counting,
    // and the live text starts from the preserved text.
    void beginDictation(LanguageOption language);
    // Starts recognising the dictation's language; fails with
    // HybridTranscriptionError.
    QFuture<void> start();
    // Passes a batch to the running recognition, or holds it during a restart.
    void feed(const AudioSamples &frames);
    // Ends the audio, waits up to 0.8 s for the recogniser to complete and
    // gives the best of the live texts.
    QFuture<QString> stop();

    void clearLiveText();
    QString latestPartialText() const { return m_latestPartialText; }

    // The longest of the three live texts at a stop (the first of equals).
    static QString chooseBestText(const QString &pre, const QString &post, const QString &latest);

private:
    using Duration = MonotonicClock::Duration;

    QFuture<void> startRecognition(quint64 dictation);
    void openSegment(std::unique_ptr<SpeechRecognizer> recognizer);
    void handleRecognitionResult(quint64 generation, const std::optional<SpeechRecognitionResult> &result,
                                 const std::optional<QString> &error);
    void restart();
    void beginRestart();
    void attemptRestart(quint64 dictation, int attempt);
    void finishRestart();
    QFuture<void> waitForRecognizer(Duration startedAt);
    QFuture<void> afterQueuedResults();
    QString combinedLiveText(const QString &segment) const;
    void freezeCurrentSegment();
    void reportLiveText();

    SpeechRecognition &m_recognition;
    MonotonicClock &m_clock;
    TextHandler m_onLiveText;

    std::unique_ptr<SpeechRecognizer> m_speechRecognizer;
    std::shared_ptr<RecognitionRequest> m_recognitionRequest;
    std::shared_ptr<RecognitionTask> m_recognitionTask;

    QString m_latestPartialText;
    QString m_preservedTextFromPriorSegments;
    QString m_currentSegmentBestPartial;
    LanguageOption m_language = LanguageOption::english;

    bool m_restarting = false;
    int m_restartAttempt = 0;
    bool m_isStopping = false;
    QList<AudioSamples> m_pendingFramesDuringRestart;
    int m_droppedBatchesDuringRestart = 0;
    quint64 m_speechSessionGeneration = 0;
    std::optional<Duration> m_lastRestartTime;
    // Raised at every new dictation and stop: timers and restarts of an
    // earlier dictation see that they are stale.
    quint64 m_dictation = 0;
    // Last, so that it goes first: every .then() on this object waits through it.
    Futures::FollowedFutures m_followed;
};
