#pragma once

#include "pipeline/RealtimeTranscriptionService.h"
#include "pipeline/WhisperEngineAdapter.h"

#include <QObject>

#include <chrono>
#include <deque>
#include <memory>
#include <optional>

class ModelManager;
class MonotonicClock;
class RecognitionRequest;
class RecognitionTask;
class SpeechRecognizer;
class WhisperOfflineTranscriptionService;
struct SpeechRecognitionResult;

// The transcriber the dictation coordinator drives. Per dictation it runs the
// on-device recogniser for live text (restarting it whenever it ends and
// keeping the text of every finished segment), the offline Whisper service,
// or the cloud service, and it keeps every sample for the Whisper refinement
// that follows a parallel dictation. Main thread only.
class HybridRealtimeTranscriptionService : public QObject, public RealtimeTranscriptionService {
    Q_OBJECT

public:
    using TextHandler = std::function<void(const QString &)>;
    using FailureHandler = std::function<void()>;

    static constexpr qsizetype maxSessionSamples = 10'000'000;
    static constexpr qsizetype maxPendingBatches = 50;
    // Failed restarts of live recognition before it is given up for the dictation.
    static constexpr int maxRestartAttempts = 8;

    explicit HybridRealtimeTranscriptionService(ModelManager &modelManager, QObject *parent = nullptr);
    // The Whisper engine, the cloud service and the clock from the caller.
    HybridRealtimeTranscriptionService(ModelManager &modelManager, std::unique_ptr<WhisperEngineAdapter> engine,
                                       std::unique_ptr<RealtimeTranscriptionService> cloudService,
                                       MonotonicClock &clock, QObject *parent = nullptr);
    ~HybridRealtimeTranscriptionService() override;

    QFuture<void> start(LanguageOption language) override;
    QFuture<void> appendAudioFrames(const AudioSamples &frames) override;
    QFuture<QString> stopAndFinalize() override;
    QString activeASRModelName() const override { return m_activeASRModelName; }

    // Refinement reports after a parallel dictation; each runs in its own
    // main-thread event. Every refinement reports exactly once for the Base
    // stage (text or failure) and, when the large model is enabled, once for
    // the Large stage, always after the Base report.
    void setOnRefinedText(TextHandler handler) { m_onRefinedText = std::move(handler); }
    void setOnBaseModelFailed(FailureHandler handler) { m_onBaseModelFailed = std::move(handler); }
    void setOnLargeModelText(TextHandler handler) { m_onLargeModelText = std::move(handler); }
    void setOnLargeModelFailed(FailureHandler handler) { m_onLargeModelFailed = std::move(handler); }

    bool largeModelEnabled() const { return m_largeModelEnabled; }
    void setLargeModelEnabled(bool enabled) { m_largeModelEnabled = enabled; }

    // The coordinator empties the live texts before every start.
    void clearLiveText();
    QString latestPartialText() const { return m_latestPartialText; }
    ASRModelPreference activeMode() const { return m_activeMode; }

    // The longest of the three live texts at a stop (the first of equals).
    static QString chooseBestText(const QString &pre, const QString &post, const QString &latest);

    // Whether the accelerated encoder of Whisper Large v3 lies in the
    // application container's models directory.
    static bool isCoreMLEncoderInstalled();

private:
    using Duration = std::chrono::nanoseconds;

    QFuture<void> startAppleSpeech(quint64 dictation);
    void handleRecognitionResult(quint64 generation, const std::optional<SpeechRecognitionResult> &result,
                                 const std::optional<QString> &error);
    void restartAppleSpeech();
    void beginRestart();
    void runRestartAttempt(quint64 dictation, int attempt);
    void feedAppleSpeech(const AudioSamples &frames);
    QString combinedLiveText(const QString &segment) const;
    void freezeCurrentSegment();
    void postPartialText(const QString &text);

    void waitForRecognizer(Duration startedAt, std::function<void()> done);

    // The Whisper service serves one user at a time, in arrival order.
    void takeWhisperTurn(std::function<void()> job);
    void releaseWhisperTurn();
    void runWhisperRefinement(AudioSamples frames, LanguageOption language, bool largeModelEnabled);
    void reportBaseStage(const std::exception_ptr &error, const QString &text, bool largeModelEnabled);
    void runLargeStage(const AudioSamples &frames, LanguageOption language);
    void runWhisperPass(ASRModelPreference model, const AudioSamples &frames, LanguageOption language,
                        std::function<void(std::exception_ptr, QString)> done);
    void report(const TextHandler &handler, const QString &text);
    void report(const FailureHandler &handler);

    AudioSamples sessionFrames() const;

    MonotonicClock &m_clock;
    TextHandler m_onRefinedText;
    FailureHandler m_onBaseModelFailed;
    TextHandler m_onLargeModelText;
    FailureHandler m_onLargeModelFailed;

    QString m_activeASRModelName = QStringLiteral("Not started");
    std::unique_ptr<WhisperOfflineTranscriptionService> m_whisperService;
    std::unique_ptr<RealtimeTranscriptionService> m_cloudflareService;
    ASRModelPreference m_activeMode = ASRModelPreference::parallelFast;
    bool m_largeModelEnabled = false;

    std::unique_ptr<SpeechRecognizer> m_speechRecognizer;
    std::shared_ptr<RecognitionRequest> m_recognitionRequest;
    std::shared_ptr<RecognitionTask> m_recognitionTask;

    QString m_latestPartialText;
    QString m_preservedTextFromPriorSegments;
    QString m_currentSegmentBestPartial;
    // The newest samples of the dictation start at m_sessionFramesStart; the
    // dropped head is compacted away in large steps, not on every batch.
    AudioSamples m_sessionFrames16k;
    qsizetype m_sessionFramesStart = 0;
    LanguageOption m_currentLanguage = LanguageOption::english;

    bool m_appleSpeechRestarting = false;
    bool m_isStopping = false;
    QList<AudioSamples> m_pendingFramesDuringRestart;
    int m_droppedBatchesDuringRestart = 0;
    quint64 m_speechSessionGeneration = 0;
    std::optional<Duration> m_lastRestartTime;
    // Raised at every start and stop: timers and restarts of an earlier
    // dictation see that they are stale.
    quint64 m_dictation = 0;

    bool m_whisperBusy = false;
    bool m_whisperTurnHeldByDictation = false;
    bool m_forwardWhisperPartials = false;
    std::deque<std::function<void()>> m_whisperWaiting;
};
