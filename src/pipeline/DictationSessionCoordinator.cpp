#include "pipeline/DictationSessionCoordinator.h"

#include "pipeline/CloudUsageTracker.h"
#include "pipeline/MacAudioCaptureService.h"
#include "pipeline/RealtimeTranscriptionService.h"
#include "pipeline/RewriteService.h"
#include "pipeline/SpokenPunctuation.h"
#include "pipeline/TextInjector.h"
#include "pipeline/TranscriptPostProcessor.h"
#include "platform/Workspace.h"
#include "profile/AdaptiveLearningEngine.h"
#include "support/ControlCharacters.h"
#include "support/DescribedError.h"
#include "support/FutureWatch.h"
#include "support/Handover.h"
#include "support/Log.h"
#include "support/TextUtils.h"

#include <QCoreApplication>
#include <QPointer>
#include <QPromise>
#include <QFuture>

#include <algorithm>
#include <cmath>

namespace {
constexpr char kTag[] = "Coordinator";

qsizetype characters(const QString &text)
{
    return TextUtils::graphemeCount(text);
}

// The words the stop's log counts: pieces between single blanks.
qsizetype wordsOf(const QString &text)
{
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts).size();
}

void finish(const std::shared_ptr<QPromise<void>> &promise)
{
    if (promise)
        promise->finish();
}

// A transcript as the dictation types and records it: what a remote service
// sent as control characters reaches neither the target nor the history.
QString dictatedText(const QString &transcript)
{
    return SpokenPunctuation::apply(ControlCharacters::removedForOutput(transcript));
}

// The level the meter shows: the frames' RMS times 5, capped at 1.
float levelOf(const AudioSamples &frames)
{
    double sum = 0;
    for (float s : frames)
        sum += double(s) * double(s);
    return float(std::min(1.0, std::sqrt(sum / double(frames.size())) * 5.0));
}
} // namespace

DictationSessionCoordinator::DictationSessionCoordinator(const Services &services, QObject *parent)
    : QObject(parent)
    , m_audioCapture(services.audioCapture)
    , m_transcription(services.transcription)
    , m_refinement(services.refinement)
    , m_textInjector(services.textInjector)
    , m_learningEngine(services.learningEngine)
    , m_postProcessor(services.postProcessor)
    , m_rewriteService(services.rewriteService)
    , m_workspace(services.workspace)
    , m_usageTracker(services.usageTracker)
    , m_modelManager(services.modelManager)
    , m_clock(services.clock)
{
    const QPointer<DictationSessionCoordinator> self(this);
    m_transcription.setOnPartialText([self](const QString &text) {
        if (self)
            self->handlePartialText(text);
    });
    m_refinement.setOnRefinedText([self](DictationId dictation, const QString &text) {
        if (self)
            self->handleRefinedText(dictation, text);
    });
    m_refinement.setOnBaseModelFailed([self](DictationId dictation, const QString &why) {
        if (self)
            self->handleBaseModelFailure(dictation, why);
    });
    m_refinement.setOnLargeModelText([self](DictationId dictation, const QString &text) {
        if (self)
            self->handleLargeModelText(dictation, text);
    });
    m_refinement.setOnLargeModelFailed([self](DictationId dictation, const QString &why) {
        if (self)
            self->handleLargeModelFailure(dictation, why);
    });
}

DictationSessionCoordinator::~DictationSessionCoordinator()
{
    // No capture callback may post to a coordinator that is gone.
    if (m_acceptingFrames)
        m_audioCapture.stop();
}

QString DictationSessionCoordinator::activeDictationModeName() const
{
    return m_activeDictationMode == DictationMode::hold ? QStringLiteral("hold") : QStringLiteral("toggle");
}

void DictationSessionCoordinator::setActiveDictationMode(DictationMode mode)
{
    if (m_activeDictationMode == mode)
        return;
    m_activeDictationMode = mode;
    emit activeDictationModeChanged();
}

void DictationSessionCoordinator::toggleDictation()
{
    if (m_isDictating || m_isStarting)
        stopDictation();
    else
        startDictation();
}

// ---- start

QFuture<void> DictationSessionCoordinator::startDictation()
{
    // A start still waiting for the permission or the transcriber counts too:
    // a second one would start the microphone and transcriber twice.
    if (m_isDictating || m_isProcessing || m_isStarting) {
        if (m_isProcessing) {
            // the last stop may wait long on the cloud: the press is not lost in silence
            logLine(kTag, "Start refused: the last dictation is still being processed");
            setStatusText(QStringLiteral("Still processing the last dictation; press again when it is done"));
        }
        return QtFuture::makeReadyFuture();
    }
    m_stopRequested = false;
    m_startPromise = Futures::startedPromise<void>();
    const QFuture<void> done = m_startPromise->future();
    setIsStarting(true);
    rememberTargetApp();

    m_followed.follow(m_audioCapture.requestMicrophoneAccess()).then(this, [this](AudioInput::Access access) {
        if (access != AudioInput::Access::granted) {
            setStatusText(access == AudioInput::Access::noDevice ? QStringLiteral("No microphone found")
                                                                 : QStringLiteral("Microphone permission denied"));
            endStart();
            emit startFailed();
            return;
        }
        beginSession();
        startCapture();
    });
    return done;
}

void DictationSessionCoordinator::rememberTargetApp()
{
    const qint64 ownPid = QCoreApplication::applicationPid();
    const std::optional<RunningApplication> front = m_workspace.frontmostApplication();
    if (!front)
        m_targetAppPID.reset();
    else if (front->processIdentifier != ownPid)
        m_targetAppPID = front->processIdentifier;
    const QString name = front && !front->localizedName.isEmpty() ? front->localizedName : QStringLiteral("nil");
    logLine(kTag, QStringLiteral("Target app: %1 (pid %2, own pid %3)")
                      .arg(name)
                      .arg(m_targetAppPID.value_or(-1))
                      .arg(ownPid));
}

void DictationSessionCoordinator::beginSession()
{
    m_dictation = {m_dictation.id + 1, selectedASRModel, largeModelEnabled};
    m_awaitedRefinement.reset();
    setLiveTranscript({});
    setRefinedTranscript({});
    setLargeModelTranscript({});
    setFinalText({});
    setRefiningFailure({});
    setLargeModelFailure({});
    setIsRefining(false);
    setIsLargeModelProcessing(false);
    setIsPolishing(false);
    // The earlier dictation's results will be dropped, so nothing else would
    // ever end its clocks.
    for (TimedStage stage : {TimedStage::refining, TimedStage::largeModel, TimedStage::polishing})
        finishStage(stage);
    setStatusText(QStringLiteral("Listening..."));
    m_refinement.prepareDictation(m_dictation.id, m_dictation.largeModel);
}

// The microphone starts before the transcriber, whose start may take a while
// (a model to load, the Whisper engine still busy): nothing said after the
// key press is lost, the frames wait until the transcriber can take them.
void DictationSessionCoordinator::startCapture()
{
    ++m_captureGeneration;
    m_heldFrames.clear();
    m_transcriberReady = false;
    try {
        m_audioCapture.start([this](const AudioSamples &frames) { handleAudioFrames(frames); });
    } catch (...) {
        failStart(describeException(std::current_exception()));
        return;
    }
    m_acceptingFrames = true;
    m_captureStartTime = m_clock.now();
    m_captureStopTime.reset();

    m_transcription.setPreferredASRModel(m_dictation.mode);
    m_followed.follow(m_transcription.start(selectedLanguage)).then(this, [this](QFuture<void> started) {
        transcriberStarted(started);
    });
}

void DictationSessionCoordinator::transcriberStarted(QFuture<void> started)
{
    if (const std::exception_ptr error = Futures::failureOf(started)) {
        m_audioCapture.stop();
        m_acceptingFrames = false;
        m_heldFrames.clear();
        failStart(describeException(error));
        return;
    }
    setActiveASRModelLabel(m_transcription.activeASRModelName());
    const QList<AudioSamples> held = std::exchange(m_heldFrames, {});
    for (const AudioSamples &frames : held)
        m_transcription.appendAudioFrames(frames);
    m_transcriberReady = true;
    m_finalTextPending = true;
    setIsDictating(true);
    logLine(kTag, QStringLiteral("Dictation started (ASR: %1, parallel: %2, large: %3)")
                      .arg(m_activeASRModelLabel)
                      .arg(m_dictation.parallel() ? 1 : 0)
                      .arg(m_dictation.largeModel ? 1 : 0));
    endStart();
}

void DictationSessionCoordinator::failStart(const QString &description)
{
    setStatusText(QStringLiteral("Failed to start: ") + description);
    logLine(kTag, QStringLiteral("Start failed: %1").arg(description));
    endStart();
    emit startFailed();
}

void DictationSessionCoordinator::endStart()
{
    setIsStarting(false);
    const std::shared_ptr<QPromise<void>> promise = std::exchange(m_startPromise, nullptr);
    const bool stopNow = std::exchange(m_stopRequested, false) && m_isDictating;
    if (stopNow) {
        logLine(kTag, "Stop was requested while starting; stopping now");
        // the start's caller sees the whole dictation end
        m_followed.follow(stopDictation()).then(this, [promise] { finish(promise); });
        return;
    }
    finish(promise);
}

// ---- audio and partial text

void DictationSessionCoordinator::handleAudioFrames(const AudioSamples &frames)
{
    const quint64 capture = m_captureGeneration.load();
    const std::optional<float> level = frames.isEmpty() ? std::nullopt : std::optional<float>(levelOf(frames));
    // Posted events to one receiver keep their order: frames reach the
    // transcriber in capture order, and before a stop posted after them.
    Handover::post(this, [this, capture, level, frames] {
        if (level)
            setAudioLevel(*level);
        receiveFrames(capture, frames);
    });
}

void DictationSessionCoordinator::receiveFrames(quint64 capture, const AudioSamples &frames)
{
    if (capture != m_captureGeneration.load() || !m_acceptingFrames)
        return;
    if (!m_transcriberReady) {
        m_heldFrames.append(frames);
        return;
    }
    m_transcription.appendAudioFrames(frames);
}

void DictationSessionCoordinator::handlePartialText(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return;
    if (m_isDictating && !m_liveTranscript.isEmpty() && characters(trimmed) < characters(m_liveTranscript))
        return;
    setLiveTranscript(trimmed);
}

// ---- stop

QFuture<void> DictationSessionCoordinator::stopDictation()
{
    if (m_isStarting) {
        // A hold released before the start finished: stop right after it.
        m_stopRequested = true;
        return m_startPromise ? m_startPromise->future() : QtFuture::makeReadyFuture();
    }
    if (!m_isDictating)
        return QtFuture::makeReadyFuture();
    m_audioCapture.stop();
    m_captureStopTime = m_clock.now();
    setIsDictating(false);
    setIsProcessing(true);
    setStatusText(QStringLiteral("Processing..."));

    if (m_dictation.parallel()) {
        m_awaitedRefinement.emplace();
        setIsRefining(true);
        beginStage(TimedStage::refining);
        if (m_dictation.largeModel) {
            setIsLargeModelProcessing(true);
            beginStage(TimedStage::largeModel);
        }
    }
    m_stopPromise = Futures::startedPromise<void>();
    const QFuture<void> done = m_stopPromise->future();
    // after the frames the capture thread posted before its stop
    QMetaObject::invokeMethod(this, &DictationSessionCoordinator::stopTranscriber, Qt::QueuedConnection);
    return done;
}

void DictationSessionCoordinator::stopTranscriber()
{
    m_acceptingFrames = false;
    m_heldFrames.clear();
    m_followed.follow(m_transcription.stopAndFinalize()).then(this, [this](QFuture<QString> stopped) {
        transcriberStopped(stopped);
    });
}

void DictationSessionCoordinator::transcriberStopped(QFuture<QString> stopped)
{
    if (!std::exchange(m_finalTextPending, false)) {
        // recorded when the application began to quit
        setIsProcessing(false);
        finish(std::exchange(m_stopPromise, nullptr));
        return;
    }
    if (const std::exception_ptr error = Futures::failureOf(stopped)) {
        failStop(describeException(error));
        return;
    }
    if (m_dictation.mode == ASRModelPreference::cloudflareWhisper) {
        // the server's own figures already hold what it counted
        const double minutes = m_refinement.cloudMinutesNotCountedByServer();
        if (minutes > 0)
            m_usageTracker.addMinutes(minutes);
    }
    QString text = dictatedText(stopped.result());
    setLiveTranscript(text);
    const double duration = recordingSeconds();
    const AdaptiveLearningEngine::SessionStats stats =
        m_learningEngine.learnFromSession(text, text, duration, selectedLanguage);
    if (fillerRemovalEnabled && !stats.cleanedText.isEmpty()) {
        text = stats.cleanedText;
        setLiveTranscript(text);
    }
    deliver(text, duration);
}

void DictationSessionCoordinator::failStop(const QString &description)
{
    setStatusText(QStringLiteral("Error: ") + description);
    m_awaitedRefinement.reset();
    endStageEarly(TimedStage::refining);
    endStageEarly(TimedStage::largeModel);
    logLine(kTag, QStringLiteral("Stop failed: %1").arg(description));
    setIsProcessing(false);
    finish(std::exchange(m_stopPromise, nullptr));
}

void DictationSessionCoordinator::deliver(QString text, double duration)
{
    const QString words = QString::number(wordsOf(text));
    if (m_dictation.parallel()) {
        // no rewrite or dictionary here: the refinement's merge polishes later
        m_followed.follow(typeIntoTarget(text)).then(this, [this, text, words, duration] {
            if (autoInjectEnabled)
                setLastTranscribedText(text);
            setStatusText(QStringLiteral("Refining with Whisper..."));
            completeStop(words, duration);
            applyDeferredReports();
        });
        return;
    }
    QFuture<QString> rewritten = autoRewriteEnabled
        ? m_rewriteService.rewrite(text, selectedPreset, selectedLanguage)
        : QtFuture::makeReadyFuture(text);
    m_followed.follow(rewritten).then(this, [this, words, duration](const QString &rewrittenText) {
        const QString final = m_learningEngine.applyCustomDictionary(rewrittenText);
        setFinalText(final);
        m_followed.follow(typeIntoTarget(final)).then(this, [this, final, words, duration] {
            if (autoInjectEnabled)
                setLastTranscribedText(final);
            const QString cloudFailure = m_refinement.cloudFailureOfLastStop();
            setStatusText(cloudFailure.isEmpty()
                              ? QStringLiteral("Done")
                              : QStringLiteral("Cloud transcription failed, live text used: ") + cloudFailure);
            completeStop(words, duration);
        });
    });
}

double DictationSessionCoordinator::recordingSeconds() const
{
    if (!m_captureStartTime)
        return 0.0;
    return toSeconds(m_captureStopTime.value_or(m_clock.now()) - *m_captureStartTime);
}

void DictationSessionCoordinator::recordUnfinishedDictation()
{
    if (!std::exchange(m_finalTextPending, false))
        return;
    const QString text = dictatedText(m_refinement.liveTextSoFar());
    const double duration = recordingSeconds();
    m_learningEngine.learnFromSession(text, text, duration, selectedLanguage);
    logLine(kTag, QStringLiteral("Quitting before the dictation was delivered: recorded its live text "
                                 "(%1 words, %2s), not typed")
                      .arg(wordsOf(text))
                      .arg(QString::number(duration, 'f', 1)));
}

QFuture<void> DictationSessionCoordinator::typeIntoTarget(const QString &text)
{
    if (!autoInjectEnabled)
        return QtFuture::makeReadyFuture();
    auto typed = Futures::startedPromise<void>();
    m_followed.follow(reactivateTargetApp()).then(this, [this, typed, text] {
        m_followed.follow(m_textInjector.inject(text)).then(this, [typed](QFuture<void>) { typed->finish(); });
    });
    return typed->future();
}

void DictationSessionCoordinator::completeStop(const QString &words, double duration)
{
    logLine(kTag, QStringLiteral("Stop complete: %1 words, %2s").arg(words, QString::number(duration, 'f', 1)));
    setIsProcessing(false);
    finish(std::exchange(m_stopPromise, nullptr));
}

QFuture<void> DictationSessionCoordinator::reactivateTargetApp()
{
    if (!m_targetAppPID)
        return QtFuture::makeReadyFuture();
    const QList<RunningApplication> running = m_workspace.runningApplications();
    const auto app = std::find_if(running.cbegin(), running.cend(), [this](const RunningApplication &candidate) {
        return candidate.processIdentifier == *m_targetAppPID;
    });
    if (app == running.cend())
        return QtFuture::makeReadyFuture();
    m_workspace.activate(*app);
    auto paused = Futures::startedPromise<void>();
    const QString name = app->localizedName.isEmpty() ? QStringLiteral("?") : app->localizedName;
    const qint64 pid = app->processIdentifier;
    // the window manager needs a moment to bring it to the front
    m_clock.callAfter(reactivationPause, this, [paused, name, pid] {
        logLine(kTag, QStringLiteral("Re-activated target app: %1 (pid %2)").arg(name).arg(pid));
        paused->finish();
    });
    return paused->future();
}

// ---- stage clocks

std::optional<MonotonicClock::Duration> &DictationSessionCoordinator::stageStartedAt(TimedStage stage)
{
    switch (stage) {
    case TimedStage::refining:
        return m_refiningStartedAt;
    case TimedStage::largeModel:
        return m_largeModelStartedAt;
    case TimedStage::polishing:
        break;
    }
    return m_polishingStartedAt;
}

void DictationSessionCoordinator::beginStage(TimedStage stage)
{
    stageStartedAt(stage) = m_clock.now();
    setElapsedSeconds(stage, 0.0);
    startElapsedTicker();
}

// A stage that ends without its result: flag down, clock finished.
void DictationSessionCoordinator::endStageEarly(TimedStage stage)
{
    if (stage == TimedStage::refining)
        setIsRefining(false);
    else if (stage == TimedStage::largeModel)
        setIsLargeModelProcessing(false);
    else
        setIsPolishing(false);
    finishStage(stage);
}

void DictationSessionCoordinator::startElapsedTicker()
{
    if (m_tickerRunning)
        return;
    m_tickerRunning = true;
    const quint64 ticker = ++m_ticker;
    m_clock.callAfter(tickerInterval, this, [this, ticker] { tick(ticker); });
}

void DictationSessionCoordinator::tick(quint64 ticker)
{
    if (ticker != m_ticker)
        return; // stopped since
    const Duration now = m_clock.now();
    for (TimedStage stage : {TimedStage::refining, TimedStage::largeModel, TimedStage::polishing}) {
        if (const std::optional<Duration> &started = stageStartedAt(stage))
            setElapsedSeconds(stage, toSeconds(now - *started));
    }
    m_clock.callAfter(tickerInterval, this, [this, ticker] { tick(ticker); });
}

void DictationSessionCoordinator::stopElapsedTicker()
{
    m_tickerRunning = false;
    ++m_ticker;
}

void DictationSessionCoordinator::finishStage(TimedStage stage)
{
    std::optional<Duration> &started = stageStartedAt(stage);
    if (started) {
        setElapsedSeconds(stage, toSeconds(m_clock.now() - *started));
        started.reset();
    }
    if (!m_refiningStartedAt && !m_largeModelStartedAt && !m_polishingStartedAt)
        stopElapsedTicker();
}

// ---- refinement reports

void DictationSessionCoordinator::receiveReport(DictationId dictation, const QString &what,
                                                std::function<void()> apply)
{
    if (!m_awaitedRefinement || dictation != m_dictation.id) {
        logLine(kTag, QStringLiteral("Dropped %1 of an earlier dictation").arg(what));
        return;
    }
    if (!m_awaitedRefinement->delivered)
        m_awaitedRefinement->deferred.append(std::move(apply));
    else
        apply();
}

// Reports that came while the stop was still typing, in their order.
void DictationSessionCoordinator::applyDeferredReports()
{
    if (!m_awaitedRefinement)
        return;
    m_awaitedRefinement->delivered = true;
    // a report may end the refinement
    while (m_awaitedRefinement && !m_awaitedRefinement->deferred.isEmpty()) {
        const std::function<void()> apply = m_awaitedRefinement->deferred.takeFirst();
        apply();
    }
}

void DictationSessionCoordinator::handleRefinedText(DictationId dictation, const QString &text)
{
    receiveReport(dictation, QStringLiteral("Whisper Base result"), [this, text] { applyBaseText(text); });
}

void DictationSessionCoordinator::handleBaseModelFailure(DictationId dictation, const QString &why)
{
    receiveReport(dictation, QStringLiteral("Whisper Base failure"), [this, why] { applyBaseFailure(why); });
}

void DictationSessionCoordinator::handleLargeModelText(DictationId dictation, const QString &text)
{
    receiveReport(dictation, QStringLiteral("Whisper Large result"), [this, text] { applyLargeText(text); });
}

void DictationSessionCoordinator::handleLargeModelFailure(DictationId dictation, const QString &why)
{
    receiveReport(dictation, QStringLiteral("Whisper Large failure"), [this, why] { applyLargeFailure(why); });
}

void DictationSessionCoordinator::applyBaseText(const QString &text)
{
    setRefinedTranscript(text);
    setIsRefining(false);
    finishStage(TimedStage::refining);
    logLine(kTag, QStringLiteral("Whisper Base refined: %1 chars").arg(characters(text)));
    if (!text.isEmpty())
        setLastTranscribedText(text);
    if (!m_dictation.largeModel)
        finishWith(text);
    // else the large-model outcome decides
}

// No refined text at all (no samples, no Base model, a failed or empty pass),
// and so no Large pass either: finish with what the live recogniser gave.
void DictationSessionCoordinator::applyBaseFailure(const QString &why)
{
    setRefiningFailure(why);
    if (m_dictation.largeModel)
        setLargeModelFailure(QStringLiteral("Skipped: Whisper Base gave no text"));
    endStageEarly(TimedStage::refining);
    endStageEarly(TimedStage::largeModel);
    logLine(kTag, "Whisper Base gave no text, finishing with the live text");
    finishWith(m_liveTranscript);
}

void DictationSessionCoordinator::applyLargeText(const QString &text)
{
    setLargeModelTranscript(text);
    setIsLargeModelProcessing(false);
    finishStage(TimedStage::largeModel);
    logLine(kTag, QStringLiteral("Whisper Large: %1 chars").arg(characters(text)));
    if (!text.isEmpty())
        setLastTranscribedText(text);
    finishWith(text);
}

void DictationSessionCoordinator::applyLargeFailure(const QString &why)
{
    setLargeModelFailure(why);
    setIsLargeModelProcessing(false);
    finishStage(TimedStage::largeModel);
    logLine(kTag, "Whisper Large failed, falling back to Base + Apple merge");
    finishWith(m_refinedTranscript.isEmpty() ? m_liveTranscript : m_refinedTranscript);
}

// The refinement's last report: merge, or without post-processing the
// report's own text.
void DictationSessionCoordinator::finishWith(const QString &text)
{
    m_awaitedRefinement.reset();
    if (postProcessingEnabled) {
        mergeAndPolish();
    } else {
        setFinalText(text);
        setStatusText(QStringLiteral("Done"));
    }
}

QFuture<void> DictationSessionCoordinator::mergeAndPolish()
{
    setIsPolishing(true);
    beginStage(TimedStage::polishing);
    setStatusText(QStringLiteral("Merging & polishing..."));
    auto optional = [](const QString &text) { return text.isEmpty() ? std::nullopt : std::optional<QString>(text); };
    const DictationId dictation = m_dictation.id;
    return m_followed
        .follow(m_postProcessor.process(m_liveTranscript, optional(m_refinedTranscript),
                                        optional(m_largeModelTranscript)))
        .then(this, [this, dictation](const QString &result) {
            if (dictation != m_dictation.id) {
                logLine(kTag, "Dropped merge result of an earlier dictation");
                return;
            }
            setFinalText(result);
            setIsPolishing(false);
            finishStage(TimedStage::polishing);
            setStatusText(QStringLiteral("Done"));
            if (!result.isEmpty())
                setLastTranscribedText(result);
            logLine(kTag, QStringLiteral("Weighted merge complete: %1 chars").arg(characters(result)));
        });
}

// ---- published state

void DictationSessionCoordinator::setIsDictating(bool value)
{
    publish(m_isDictating, value, &DictationSessionCoordinator::isDictatingChanged);
}

void DictationSessionCoordinator::setIsStarting(bool value)
{
    publish(m_isStarting, value, &DictationSessionCoordinator::isStartingChanged);
}

void DictationSessionCoordinator::setIsProcessing(bool value)
{
    publish(m_isProcessing, value, &DictationSessionCoordinator::isProcessingChanged);
}

void DictationSessionCoordinator::setLiveTranscript(const QString &value)
{
    publish(m_liveTranscript, value, &DictationSessionCoordinator::liveTranscriptChanged);
}

void DictationSessionCoordinator::setRefinedTranscript(const QString &value)
{
    publish(m_refinedTranscript, value, &DictationSessionCoordinator::refinedTranscriptChanged);
}

void DictationSessionCoordinator::setRefiningFailure(const QString &value)
{
    publish(m_refiningFailure, value, &DictationSessionCoordinator::refiningFailureChanged);
}

void DictationSessionCoordinator::setLargeModelFailure(const QString &value)
{
    publish(m_largeModelFailure, value, &DictationSessionCoordinator::largeModelFailureChanged);
}

void DictationSessionCoordinator::setIsRefining(bool value)
{
    publish(m_isRefining, value, &DictationSessionCoordinator::isRefiningChanged);
}

void DictationSessionCoordinator::setLargeModelTranscript(const QString &value)
{
    publish(m_largeModelTranscript, value, &DictationSessionCoordinator::largeModelTranscriptChanged);
}

void DictationSessionCoordinator::setIsLargeModelProcessing(bool value)
{
    publish(m_isLargeModelProcessing, value, &DictationSessionCoordinator::isLargeModelProcessingChanged);
}

void DictationSessionCoordinator::setFinalText(const QString &value)
{
    publish(m_finalText, value, &DictationSessionCoordinator::finalTextChanged);
}

void DictationSessionCoordinator::setIsPolishing(bool value)
{
    publish(m_isPolishing, value, &DictationSessionCoordinator::isPolishingChanged);
}

void DictationSessionCoordinator::setLastTranscribedText(const QString &value)
{
    publish(m_lastTranscribedText, value, &DictationSessionCoordinator::lastTranscribedTextChanged);
}

void DictationSessionCoordinator::setAudioLevel(float value)
{
    publish(m_audioLevel, value, &DictationSessionCoordinator::audioLevelChanged);
}

void DictationSessionCoordinator::setStatusText(const QString &value)
{
    publish(m_statusText, value, &DictationSessionCoordinator::statusTextChanged);
}

void DictationSessionCoordinator::setActiveASRModelLabel(const QString &value)
{
    publish(m_activeASRModelLabel, value, &DictationSessionCoordinator::activeASRModelLabelChanged);
}

void DictationSessionCoordinator::setElapsedSeconds(TimedStage stage, double value)
{
    switch (stage) {
    case TimedStage::refining:
        return publish(m_refiningElapsedSeconds, value, &DictationSessionCoordinator::refiningElapsedSecondsChanged);
    case TimedStage::largeModel:
        return publish(m_largeModelElapsedSeconds, value,
                       &DictationSessionCoordinator::largeModelElapsedSecondsChanged);
    case TimedStage::polishing:
        return publish(m_polishingElapsedSeconds, value, &DictationSessionCoordinator::polishingElapsedSecondsChanged);
    }
}
