#pragma once

#include "models/ModelManager.h"
#include "pipeline/CloudUsageTracker.h"
#include "pipeline/DictationSessionCoordinator.h"
#include "pipeline/HybridRealtimeTranscriptionService.h"
#include "pipeline/MacAudioCaptureService.h"
#include "pipeline/RealtimeTranscriptionService.h"
#include "pipeline/RewriteService.h"
#include "pipeline/TextInjector.h"
#include "pipeline/TranscriberRefinement.h"
#include "pipeline/TranscriptPostProcessor.h"
#include "platform/fake/FakeAudioInput.h"
#include "platform/fake/FakeLexicalTagger.h"
#include "platform/fake/FakePaths.h"
#include "platform/fake/FakeSettings.h"
#include "platform/fake/FakeWorkspace.h"
#include "profile/AdaptiveLearningEngine.h"
#include "profile/InsightEngine.h"
#include "profile/VoiceProfileStore.h"
#include "support/FakeMonotonicClock.h"
#include "support/FakeWhisperEngineAdapter.h"
#include "support/TestError.h"

#include <QPromise>
#include <QTemporaryDir>

#include <memory>
// The transcriber: its start waits for the test when asked to; the
// refinement reports are sent by the test, by default for the dictation
// prepared last.
class FakeTranscriber : public RealtimeTranscriptionService, public TranscriberRefinement {
public:
    std::optional<QString> startFailure;
    bool holdStart = false;
    std::shared_ptr<QPromise<void>> pendingStart;
    int starts = 0;
    AudioSamples appended;
    int stops = 0;
    std::optional<QString> stopFailure;
    // A stop then answers only when the test finishes pendingStop.
    bool holdStop = false;
    std::shared_ptr<QPromise<QString>> pendingStop;
    QString finalText;
    QString liveText;
    double cloudMinutes = 0;
    QString cloudFailure;
    DictationId dictation = 0;
    TextHandler refined, largeText;
    FailureHandler baseFailed, largeFailed;
    // What a stage's failure report says.
    QString failureNote = QStringLiteral("Skipped: not installed");

    // "base:text" or "large:text"; an empty text is that stage's failure.
    void report(const QString &report, std::optional<DictationId> of = std::nullopt)
    {
        const QString text = report.section(QLatin1Char(':'), 1);
        const DictationId id = of.value_or(dictation);
        if (report.startsWith(QLatin1String("base")))
            text.isEmpty() ? baseFailed(id, failureNote) : refined(id, text);
        else
            text.isEmpty() ? largeFailed(id, failureNote) : largeText(id, text);
    }

    QFuture<void> start(LanguageOption) override
    {
        ++starts;
        pendingStart = std::make_shared<QPromise<void>>();
        pendingStart->start();
        if (!holdStart)
            completeStart();
        return pendingStart->future();
    }
    void completeStart()
    {
        if (startFailure)
            pendingStart->setException(TestError(*startFailure));
        pendingStart->finish();
    }
    QFuture<void> appendAudioFrames(const AudioSamples &frames) override
    {
        appended += frames;
        return QtFuture::makeReadyFuture();
    }
    QFuture<QString> stopAndFinalize() override
    {
        ++stops;
        if (stopFailure)
            return QtFuture::makeExceptionalFuture<QString>(TestError(*stopFailure));
        if (holdStop) {
            pendingStop = std::make_shared<QPromise<QString>>();
            pendingStop->start();
            return pendingStop->future();
        }
        return QtFuture::makeReadyFuture(finalText);
    }
    QString activeASRModelName() const override { return QStringLiteral("Fake ASR"); }

    void prepareDictation(DictationId id, bool) override { dictation = id; }
    void setOnRefinedText(TextHandler handler) override { refined = std::move(handler); }
    void setOnBaseModelFailed(FailureHandler handler) override { baseFailed = std::move(handler); }
    void setOnLargeModelText(TextHandler handler) override { largeText = std::move(handler); }
    void setOnLargeModelFailed(FailureHandler handler) override { largeFailed = std::move(handler); }
    double cloudMinutesNotCountedByServer() const override { return cloudMinutes; }
    QString cloudFailureOfLastStop() const override { return cloudFailure; }
    QString liveTextSoFar() const override { return liveText; }
};

class FakeInjector : public TextInjector {
public:
    QStringList texts;
    QFuture<void> inject(const QString &text) override
    {
        texts << text;
        return QtFuture::makeReadyFuture();
    }
};

// Marks what it rewrote; the polish of the merge goes through one too.
class FakeRewriter : public RewriteService {
public:
    QString mark;
    bool hold = false;
    QList<std::pair<std::shared_ptr<QPromise<QString>>, QString>> held;
    QFuture<QString> rewrite(const QString &text, RewritePreset, LanguageOption) override
    {
        if (!hold)
            return QtFuture::makeReadyFuture(mark + text);
        auto promise = std::make_shared<QPromise<QString>>();
        promise->start();
        held.append({promise, mark + text});
        return promise->future();
    }
};

// Everything a coordinator needs, as fakes (a real profile store in a
// temporary directory); built before the coordinator that uses it.
struct CoordinatorParts {
    CoordinatorParts();

    QTemporaryDir directory;
    FakeMonotonicClock clock;
    FakeAudioInput audioInput;
    FakeWorkspace workspace;
    FakeSettings settings;
    FakeLexicalTagger tagger;
    FakeTranscriber transcriber;
    FakeInjector injector;
    FakeRewriter rewriter;
    MacAudioCaptureService capture{audioInput};
    // Waits long enough for a locked file that whoever waits for it shows.
    VoiceProfileStore store{directory.filePath(QStringLiteral("profile.sqlite")), std::chrono::seconds(2)};
    InsightEngine insights{&tagger};
    AdaptiveLearningEngine learning{store, insights};
    FakePaths paths;
    ModelManager models{paths};
    std::unique_ptr<TranscriptPostProcessor> postProcessor;
    CloudUsageTracker usage{&settings};
    // The merge's polish, owned by the post-processor.
    FakeRewriter *polisher = nullptr;

    DictationSessionCoordinator::Services services();
    // Over another transcriber.
    DictationSessionCoordinator::Services services(RealtimeTranscriptionService &transcription,
                                                   TranscriberRefinement &refinement);
};

// A coordinator that owns its fakes.
class RiggedCoordinator : public CoordinatorParts, public DictationSessionCoordinator {
public:
    RiggedCoordinator()
        : DictationSessionCoordinator(services())
    {
    }
};

// The real transcriber, on a scripted Whisper engine, the platform's live
// recogniser and the real cloud client, which talks to the server the
// settings name.
struct RealTranscriberPart {
    RealTranscriberPart(ModelManager &models, SpeechRecognition &recognition, MonotonicClock &clock);

    std::shared_ptr<FakeWhisperEngineAdapter::Script> engine;
    HybridRealtimeTranscriptionService hybrid;
};

// A coordinator over the real transcriber; the rest are its fakes.
class RealTranscriberCoordinator : public CoordinatorParts, public RealTranscriberPart,
                                   public DictationSessionCoordinator {
public:
    explicit RealTranscriberCoordinator(SpeechRecognition &recognition)
        : RealTranscriberPart(models, recognition, clock)
        , DictationSessionCoordinator(services(hybrid, hybrid))
    {
    }
};
