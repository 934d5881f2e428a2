#pragma once

#include "pipeline/LiveRecognitionSupervisor.h"
#include "pipeline/RealtimeTranscriptionService.h"
#include "pipeline/SessionSampleHistory.h"
#include "pipeline/TranscriberRefinement.h"
#include "pipeline/WhisperRefinementQueue.h"
#include "support/FutureWatch.h"

#include <QObject>

#include <memory>

class CloudflareTranscriptionService;
class ModelManager;
class MonotonicClock;
class QNetworkAccessManager;
class SpeechRecognition;
class WhisperOfflineTranscriptionService;

// The transcriber the dictation coordinator drives. Per dictation it routes
// the preferred model to its engines: live on-device recognition, the offline
// Whisper service, or the cloud service with live text beside it. It keeps
// every sample so that a parallel dictation is refined by Whisper after its
// stop. Main thread only.
class HybridRealtimeTranscriptionService : public QObject,
                                           public RealtimeTranscriptionService,
                                           public TranscriberRefinement {
    Q_OBJECT

public:
    HybridRealtimeTranscriptionService(ModelManager &modelManager,
                                       std::unique_ptr<WhisperOfflineTranscriptionService> whisperService,
                                       std::unique_ptr<CloudflareTranscriptionService> cloudService,
                                       SpeechRecognition &speechRecognition, MonotonicClock &clock,
                                       QObject *parent = nullptr);
    // Over the whisper.cpp engine and the cloud service, for the composition root.
    static std::unique_ptr<HybridRealtimeTranscriptionService>
    withDefaultEngines(ModelManager &modelManager, SpeechRecognition &speechRecognition, MonotonicClock &clock,
                       QNetworkAccessManager *network = nullptr);
    ~HybridRealtimeTranscriptionService() override;

    QFuture<void> start(LanguageOption language) override;
    QFuture<void> appendAudioFrames(const AudioSamples &frames) override;
    QFuture<QString> stopAndFinalize() override;
    QString activeASRModelName() const override { return m_activeASRModelName; }

    void prepareDictation(DictationId dictation, bool largeModelEnabled) override;
    // Refinement reports after a parallel dictation (see WhisperRefinementQueue).
    void setOnRefinedText(TextHandler handler) override { m_refinements.setOnRefinedText(std::move(handler)); }
    void setOnBaseModelFailed(FailureHandler handler) override
    {
        m_refinements.setOnBaseModelFailed(std::move(handler));
    }
    void setOnLargeModelText(TextHandler handler) override { m_refinements.setOnLargeModelText(std::move(handler)); }
    void setOnLargeModelFailed(FailureHandler handler) override
    {
        m_refinements.setOnLargeModelFailed(std::move(handler));
    }
    double cloudMinutesNotCountedByServer() const override;
    QString cloudFailureOfLastStop() const override { return m_cloudFailure; }
    QString liveTextSoFar() const override { return m_liveText; }

    QString latestPartialText() const { return m_live.latestPartialText(); }
    ASRModelPreference activeMode() const { return m_activeMode; }

    // The longest of the three live texts at a stop (the first of equals).
    static QString chooseBestText(const QString &pre, const QString &post, const QString &latest)
    {
        return LiveRecognitionSupervisor::chooseBestText(pre, post, latest);
    }

private:
    enum class Engine { liveOnly, whisper, cloud };
    struct Route {
        ASRModelPreference mode; // what appending and stopping branch on
        Engine engine;
        QString label; // of live-only routes; the others show their engine's
    };
    static Route routeFor(ASRModelPreference preference);

    QFuture<void> startWhisperDictation(ASRModelPreference preference, LanguageOption language, quint64 dictation);
    void activate(ASRModelPreference mode, const QString &label, quint64 dictation);
    void postPartialText(const QString &text);
    // A live or Whisper partial of the dictation: kept, then shown.
    void showLiveText(const QString &text);

    QString m_activeASRModelName = QStringLiteral("Not started");
    std::unique_ptr<WhisperOfflineTranscriptionService> m_whisperService;
    std::unique_ptr<CloudflareTranscriptionService> m_cloudflareService;
    ASRModelPreference m_activeMode = ASRModelPreference::parallelFast;
    // The refinement settings of the next dictation, and of the current one
    // from its start.
    struct RefinementRequest {
        DictationId dictation = 0;
        bool largeModelEnabled = false;
    };
    RefinementRequest m_preparedRefinement;
    RefinementRequest m_refinement;
    LanguageOption m_currentLanguage = LanguageOption::english;
    // Raised at every start and stop: a start still waiting for its engine
    // sees that it is stale.
    quint64 m_dictation = 0;

    LiveRecognitionSupervisor m_live;
    SessionSampleHistory m_history;
    WhisperRefinementQueue m_refinements;
    // Held by a Whisper-mode dictation from its start to its stop.
    WhisperRefinementQueue::Turn m_whisperTurn;
    QString m_cloudFailure;
    // The dictation's live text as last shown, and at a cloud stop the
    // live text that stands in for the cloud's.
    QString m_liveText;
    bool m_forwardWhisperPartials = false;
    // Last, so that it goes first: every .then() on this object waits through it.
    Futures::FollowedFutures m_followed;
};
