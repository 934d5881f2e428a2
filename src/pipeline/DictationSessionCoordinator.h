#pragma once

#include "pipeline/ASRModelPreference.h"
#include "pipeline/AudioSamples.h"
#include "pipeline/DictationMode.h"
#include "pipeline/RewritePreset.h"
#include "pipeline/TranscriberRefinement.h"
#include "support/FutureWatch.h"
#include "support/LanguageOption.h"
#include "support/MonotonicClock.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

template <typename T>
class QPromise;

class AdaptiveLearningEngine;
class CloudUsageTracker;
class MacAudioCaptureService;
class ModelManager;
class RealtimeTranscriptionService;
class RewriteService;
class TextInjector;
class TranscriptPostProcessor;
class Workspace;

// Owns one dictation at a time: remembers the application being typed into,
// starts the transcriber and the microphone, turns the final text into the
// delivered text and types it, and after a parallel dictation runs the timed
// refinement stages. Main thread only.
class DictationSessionCoordinator : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isDictating READ isDictating NOTIFY isDictatingChanged)
    Q_PROPERTY(bool isStarting READ isStarting NOTIFY isStartingChanged)
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(QString liveTranscript READ liveTranscript NOTIFY liveTranscriptChanged)
    Q_PROPERTY(QString refinedTranscript READ refinedTranscript NOTIFY refinedTranscriptChanged)
    Q_PROPERTY(bool isRefining READ isRefining NOTIFY isRefiningChanged)
    // Why the Whisper Base (Large) stage ended without text; empty otherwise.
    Q_PROPERTY(QString refiningFailure READ refiningFailure NOTIFY refiningFailureChanged)
    Q_PROPERTY(QString largeModelFailure READ largeModelFailure NOTIFY largeModelFailureChanged)
    Q_PROPERTY(QString largeModelTranscript READ largeModelTranscript NOTIFY largeModelTranscriptChanged)
    Q_PROPERTY(bool isLargeModelProcessing READ isLargeModelProcessing NOTIFY isLargeModelProcessingChanged)
    Q_PROPERTY(QString finalText READ finalText NOTIFY finalTextChanged)
    Q_PROPERTY(bool isPolishing READ isPolishing NOTIFY isPolishingChanged)
    Q_PROPERTY(QString lastTranscribedText READ lastTranscribedText NOTIFY lastTranscribedTextChanged)
    // "toggle" or "hold"
    Q_PROPERTY(QString activeDictationModeName READ activeDictationModeName NOTIFY activeDictationModeChanged)
    Q_PROPERTY(float audioLevel READ audioLevel NOTIFY audioLevelChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString activeASRModelLabel READ activeASRModelLabel NOTIFY activeASRModelLabelChanged)
    Q_PROPERTY(double refiningElapsedSeconds READ refiningElapsedSeconds NOTIFY refiningElapsedSecondsChanged)
    Q_PROPERTY(double largeModelElapsedSeconds READ largeModelElapsedSeconds NOTIFY largeModelElapsedSecondsChanged)
    Q_PROPERTY(double polishingElapsedSeconds READ polishingElapsedSeconds NOTIFY polishingElapsedSecondsChanged)

public:
    using DictationMode = ::DictationMode;
    enum class TimedStage { refining, largeModel, polishing };

    // Collaborators, all outliving the coordinator.
    struct Services {
        MacAudioCaptureService &audioCapture;
        RealtimeTranscriptionService &transcription;
        TranscriberRefinement &refinement;
        TextInjector &textInjector;
        AdaptiveLearningEngine &learningEngine;
        TranscriptPostProcessor &postProcessor;
        RewriteService &rewriteService;
        Workspace &workspace;
        CloudUsageTracker &usageTracker;
        ModelManager &modelManager;
        MonotonicClock &clock;
    };

    // The pause after re-activating the target before typing into it.
    static constexpr std::chrono::milliseconds reactivationPause{150};
    static constexpr std::chrono::milliseconds tickerInterval{100};

    explicit DictationSessionCoordinator(const Services &services, QObject *parent = nullptr);
    ~DictationSessionCoordinator() override;

    bool isDictating() const { return m_isDictating; }
    bool isStarting() const { return m_isStarting; }
    bool isProcessing() const { return m_isProcessing; }
    QString liveTranscript() const { return m_liveTranscript; }
    QString refinedTranscript() const { return m_refinedTranscript; }
    bool isRefining() const { return m_isRefining; }
    QString largeModelTranscript() const { return m_largeModelTranscript; }
    QString refiningFailure() const { return m_refiningFailure; }
    QString largeModelFailure() const { return m_largeModelFailure; }
    bool isLargeModelProcessing() const { return m_isLargeModelProcessing; }
    QString finalText() const { return m_finalText; }
    bool isPolishing() const { return m_isPolishing; }
    QString lastTranscribedText() const { return m_lastTranscribedText; }
    DictationMode activeDictationMode() const { return m_activeDictationMode; }
    QString activeDictationModeName() const;
    void setActiveDictationMode(DictationMode mode);
    float audioLevel() const { return m_audioLevel; }
    QString statusText() const { return m_statusText; }
    QString activeASRModelLabel() const { return m_activeASRModelLabel; }
    double refiningElapsedSeconds() const { return m_refiningElapsedSeconds; }
    double largeModelElapsedSeconds() const { return m_largeModelElapsedSeconds; }
    double polishingElapsedSeconds() const { return m_polishingElapsedSeconds; }

    // Plain settings fields, written by the menu-bar view model and read at
    // each start and stop.
    LanguageOption selectedLanguage = LanguageOption::english;
    RewritePreset selectedPreset = RewritePreset::grammarCorrect;
    ASRModelPreference selectedASRModel = ASRModelPreference::parallelFast;
    bool fillerRemovalEnabled = true;
    bool autoRewriteEnabled = true;
    bool autoInjectEnabled = true;
    bool largeModelEnabled = false;
    bool postProcessingEnabled = true;

    ModelManager &modelManager() const { return m_modelManager; }
    // The application typed into at the next delivery.
    std::optional<qint64> targetAppPID() const { return m_targetAppPID; }
    bool isElapsedTickerRunning() const { return m_tickerRunning; }

    // Never fail to the caller; outcomes show in the published state. A stop
    // asked for while the start is still running takes effect once it has.
    Q_INVOKABLE void toggleDictation();
    QFuture<void> startDictation();
    QFuture<void> stopDictation();

    // The capture callback: any thread. Hands level and frames to the main
    // thread in capture order.
    void handleAudioFrames(const AudioSamples &frames);
    // The transcriber's partial text, main thread.
    void handlePartialText(const QString &text);
    // Brings the remembered application to the front and waits the pause.
    QFuture<void> reactivateTargetApp();
    // The application is quitting: a dictation under way or still waiting
    // for its final text is recorded now with the live text it has, so that
    // it is not lost. Nothing is typed, now or when its text comes later.
    void recordUnfinishedDictation();

    // Refinement reports of a parallel dictation, with its id.
    using DictationId = TranscriberRefinement::DictationId;
    void handleRefinedText(DictationId dictation, const QString &text);
    void handleBaseModelFailure(DictationId dictation, const QString &why);
    void handleLargeModelText(DictationId dictation, const QString &text);
    void handleLargeModelFailure(DictationId dictation, const QString &why);

    void startElapsedTicker();
    void finishStage(TimedStage stage);
    QFuture<void> mergeAndPolish();

signals:
    void isDictatingChanged();
    void isStartingChanged();
    void isProcessingChanged();
    void liveTranscriptChanged();
    void refinedTranscriptChanged();
    void isRefiningChanged();
    void largeModelTranscriptChanged();
    void isLargeModelProcessingChanged();
    void finalTextChanged();
    void isPolishingChanged();
    void lastTranscribedTextChanged();
    void activeDictationModeChanged();
    void audioLevelChanged();
    void statusTextChanged();
    void activeASRModelLabelChanged();
    void refiningElapsedSecondsChanged();
    void largeModelElapsedSecondsChanged();
    void polishingElapsedSecondsChanged();
    void refiningFailureChanged();
    void largeModelFailureChanged();
    // A start ended without a dictation; statusText says why.
    void startFailed();

private:
    using Duration = MonotonicClock::Duration;

    // What a dictation runs with, fixed at its start: the transcriber chose
    // its route then.
    struct Dictation {
        DictationId id = 0;
        ASRModelPreference mode = ASRModelPreference::parallelFast;
        bool largeModel = false;
        bool parallel() const { return mode == ASRModelPreference::parallelFast; }
    };
    // The current parallel dictation's refinement, from its stop until its
    // last report.
    struct AwaitedRefinement {
        // Until its stop has delivered, reports wait here in arrival order.
        bool delivered = false;
        QList<std::function<void()>> deferred;
    };

    void setIsDictating(bool value);
    void setIsStarting(bool value);
    void setIsProcessing(bool value);
    void setLiveTranscript(const QString &value);
    void setRefinedTranscript(const QString &value);
    void setIsRefining(bool value);
    void setRefiningFailure(const QString &value);
    void setLargeModelFailure(const QString &value);
    void setLargeModelTranscript(const QString &value);
    void setIsLargeModelProcessing(bool value);
    void setFinalText(const QString &value);
    void setIsPolishing(bool value);
    void setLastTranscribedText(const QString &value);
    void setAudioLevel(float value);
    void setStatusText(const QString &value);
    void setActiveASRModelLabel(const QString &value);
    void setElapsedSeconds(TimedStage stage, double value);
    std::optional<Duration> &stageStartedAt(TimedStage stage);
    template <typename T>
    void publish(T &member, const T &value, void (DictationSessionCoordinator::*changed)())
    {
        if (member == value)
            return;
        member = value;
        emit(this->*changed)();
    }

    void rememberTargetApp();
    void beginSession();
    void startCapture();
    void transcriberStarted(QFuture<void> started);
    void failStart(const QString &description);
    void endStart();
    void receiveFrames(quint64 capture, const AudioSamples &frames);
    void stopTranscriber();
    void transcriberStopped(QFuture<QString> stopped);
    void failStop(const QString &description);
    void deliver(QString text, double duration);
    // The length of the dictation's recording, however long its text took.
    double recordingSeconds() const;
    void completeStop(const QString &words, double duration);
    QFuture<void> typeIntoTarget(const QString &text);

    void beginStage(TimedStage stage);
    void endStageEarly(TimedStage stage);
    void tick(quint64 ticker);
    void stopElapsedTicker();

    void receiveReport(DictationId dictation, const QString &what, std::function<void()> apply);
    void applyDeferredReports();
    void applyBaseText(const QString &text);
    void applyBaseFailure(const QString &why);
    void applyLargeText(const QString &text);
    void applyLargeFailure(const QString &why);
    void finishWith(const QString &text);

    MacAudioCaptureService &m_audioCapture;
    RealtimeTranscriptionService &m_transcription;
    TranscriberRefinement &m_refinement;
    TextInjector &m_textInjector;
    AdaptiveLearningEngine &m_learningEngine;
    TranscriptPostProcessor &m_postProcessor;
    RewriteService &m_rewriteService;
    Workspace &m_workspace;
    CloudUsageTracker &m_usageTracker;
    ModelManager &m_modelManager;
    MonotonicClock &m_clock;

    // Its id is raised by every start that gets past the permission.
    Dictation m_dictation;
    // Raised by every microphone start; read on the capture thread, so that
    // frames of an earlier capture are not taken for this one's.
    std::atomic<quint64> m_captureGeneration{0};
    bool m_acceptingFrames = false;
    // Frames that arrive before the transcriber has started wait here.
    bool m_transcriberReady = false;
    QList<AudioSamples> m_heldFrames;
    bool m_stopRequested = false;
    std::shared_ptr<QPromise<void>> m_startPromise;
    std::shared_ptr<QPromise<void>> m_stopPromise;

    std::optional<Duration> m_refiningStartedAt;
    std::optional<Duration> m_largeModelStartedAt;
    std::optional<Duration> m_polishingStartedAt;
    bool m_tickerRunning = false;
    quint64 m_ticker = 0;
    std::optional<Duration> m_captureStartTime;
    std::optional<Duration> m_captureStopTime;
    // From the start of a dictation until its text is recorded (or its stop
    // fails): what quitting would lose.
    bool m_finalTextPending = false;
    std::optional<qint64> m_targetAppPID;
    std::optional<AwaitedRefinement> m_awaitedRefinement;

    bool m_isDictating = false;
    bool m_isStarting = false;
    bool m_isProcessing = false;
    QString m_liveTranscript;
    QString m_refinedTranscript;
    bool m_isRefining = false;
    QString m_largeModelTranscript;
    QString m_refiningFailure;
    QString m_largeModelFailure;
    bool m_isLargeModelProcessing = false;
    QString m_finalText;
    bool m_isPolishing = false;
    QString m_lastTranscribedText;
    DictationMode m_activeDictationMode = DictationMode::toggle;
    float m_audioLevel = 0.0f;
    QString m_statusText = QStringLiteral("Ready");
    QString m_activeASRModelLabel;
    double m_refiningElapsedSeconds = 0.0;
    double m_largeModelElapsedSeconds = 0.0;
    double m_polishingElapsedSeconds = 0.0;
    // Last, so that it goes first: every .then() on this object waits through it.
    Futures::FollowedFutures m_followed;
};
