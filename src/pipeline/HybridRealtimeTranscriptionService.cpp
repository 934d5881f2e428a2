#include "HybridRealtimeTranscriptionService.h"

#include "models/ModelManager.h"
#include "pipeline/CloudflareTranscriptionService.h"
#include "pipeline/HybridTranscriptionError.h"
#include "pipeline/WhisperCppEngineAdapter.h"
#include "pipeline/WhisperOfflineTranscriptionService.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "platform/SpeechRecognizer.h"
#include "support/FutureWatch.h"
#include "support/Log.h"
#include "support/MonotonicClock.h"
#include "support/TextUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <cmath>

using namespace std::chrono_literals;

namespace {
constexpr char kHybrid[] = "Hybrid";
constexpr char kAppleSpeech[] = "AppleSpeech";
constexpr char kAsr[] = "BRV-ASR";

constexpr auto kRestartThrottle = 1s;
constexpr auto kRestartPause = 200ms;
constexpr auto kStopWait = 800ms;
constexpr auto kStopPoll = 100ms;
// Dropping the head of the sample history is batched: compact once this much
// has fallen out instead of moving ten million samples on every batch.
constexpr qsizetype kCompactionStep = 1'000'000;

MonotonicClock::Duration restartBackoff(int attempt)
{
    const double seconds = std::min(0.5 * std::pow(2.0, attempt), 5.0);
    return std::chrono::duration_cast<MonotonicClock::Duration>(std::chrono::duration<double>(seconds));
}

qsizetype characters(const QString &text)
{
    return TextUtils::graphemeCount(text);
}

SpeechRecognition &speechRecognition()
{
    return Platform::instance().speechRecognition();
}

std::unique_ptr<WhisperEngineAdapter> makeWhisperEngine()
{
    logLine("DEBUG-85dc62", "WhisperEngineFactory using whisper.cpp backend");
    return std::make_unique<WhisperCppEngineAdapter>();
}
} // namespace

HybridRealtimeTranscriptionService::HybridRealtimeTranscriptionService(ModelManager &modelManager, QObject *parent)
    : HybridRealtimeTranscriptionService(modelManager, makeWhisperEngine(),
                                         std::make_unique<CloudflareTranscriptionService>(), MonotonicClock::system(),
                                         parent)
{
}

HybridRealtimeTranscriptionService::HybridRealtimeTranscriptionService(
    ModelManager &modelManager, std::unique_ptr<WhisperEngineAdapter> engine,
    std::unique_ptr<RealtimeTranscriptionService> cloudService, MonotonicClock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_whisperService(std::make_unique<WhisperOfflineTranscriptionService>(modelManager, std::move(engine), clock))
    , m_cloudflareService(std::move(cloudService))
{
    m_cloudflareService->setPreferredASRModel(ASRModelPreference::cloudflareWhisper);
    // Refinement passes use the Whisper service too; only a Whisper-mode
    // dictation's own live text belongs on screen.
    m_whisperService->setOnPartialText([this](const QString &text) {
        if (m_forwardWhisperPartials)
            postPartialText(text);
    });
    m_cloudflareService->setOnPartialText([this](const QString &text) { postPartialText(text); });
}

HybridRealtimeTranscriptionService::~HybridRealtimeTranscriptionService()
{
    if (m_recognitionTask)
        m_recognitionTask->cancel();
    if (m_recognitionRequest)
        m_recognitionRequest->endAudio();
}

void HybridRealtimeTranscriptionService::clearLiveText()
{
    m_latestPartialText.clear();
    m_preservedTextFromPriorSegments.clear();
    m_currentSegmentBestPartial.clear();
}

QFuture<void> HybridRealtimeTranscriptionService::start(LanguageOption language)
{
    if (m_whisperTurnHeldByDictation) {
        // The previous Whisper-mode dictation never stopped; its turn ends here.
        m_whisperTurnHeldByDictation = false;
        m_forwardWhisperPartials = false;
        releaseWhisperTurn();
    }
    const quint64 dictation = ++m_dictation;
    m_appleSpeechRestarting = false;
    m_pendingFramesDuringRestart.clear();
    m_droppedBatchesDuringRestart = 0;

    m_latestPartialText = m_preservedTextFromPriorSegments;
    m_currentSegmentBestPartial.clear();
    m_sessionFrames16k.resize(0);
    m_sessionFramesStart = 0;
    m_currentLanguage = language;

    auto promise = Futures::startedPromise<void>();
    const ASRModelPreference preference = m_preferredASRModel;
    switch (preference) {
    case ASRModelPreference::parallelFast:
    case ASRModelPreference::auto_:
    case ASRModelPreference::appleSpeechFast:
        Futures::whenFinished(startAppleSpeech(dictation), this, [this, promise, preference](QFuture<void> started) {
            if (const std::exception_ptr error = Futures::failureOf(started))
                return Futures::finishWithFailure(promise, error);
            if (preference == ASRModelPreference::parallelFast) {
                m_activeASRModelName = QStringLiteral("Apple Speech (Live) + Whisper Base");
                m_activeMode = ASRModelPreference::parallelFast;
                logLine(kHybrid, "Started PARALLEL mode: Apple Speech live + Whisper Base on stop");
            } else {
                m_activeASRModelName = QStringLiteral("Apple Speech (Live)");
                m_activeMode = ASRModelPreference::appleSpeechFast;
            }
            promise->finish();
        });
        break;
    case ASRModelPreference::whisperBase:
    case ASRModelPreference::whisperLargeV3:
        if (m_whisperBusy)
            logLine(kHybrid, "Whisper is busy with a refinement; the dictation starts when it ends");
        takeWhisperTurn([this, promise, preference, language, dictation] {
            if (dictation != m_dictation) {
                // Superseded while waiting for its turn.
                releaseWhisperTurn();
                promise->finish();
                return;
            }
            m_whisperTurnHeldByDictation = true;
            m_whisperService->setPreferredASRModel(preference);
            Futures::whenFinished(m_whisperService->start(language), this,
                                  [this, promise, preference](QFuture<void> started) {
                                      if (const std::exception_ptr error = Futures::failureOf(started)) {
                                          m_whisperTurnHeldByDictation = false;
                                          releaseWhisperTurn();
                                          return Futures::finishWithFailure(promise, error);
                                      }
                                      m_activeMode = preference;
                                      m_activeASRModelName = m_whisperService->activeASRModelName();
                                      m_forwardWhisperPartials = true;
                                      promise->finish();
                                  });
        });
        break;
    case ASRModelPreference::whisperMode:
    case ASRModelPreference::cloudflareWhisper:
        Futures::whenFinished(m_cloudflareService->start(language), this, [this, promise, dictation](QFuture<void> started) {
            if (const std::exception_ptr error = Futures::failureOf(started))
                return Futures::finishWithFailure(promise, error);
            m_activeMode = ASRModelPreference::cloudflareWhisper;
            m_activeASRModelName = m_cloudflareService->activeASRModelName();
            // Live text is a bonus here: without it the cloud still transcribes.
            Futures::whenFinished(startAppleSpeech(dictation), this, [promise](QFuture<void>) { promise->finish(); });
        });
        break;
    }
    return promise->future();
}

QFuture<void> HybridRealtimeTranscriptionService::startAppleSpeech(quint64 dictation)
{
    auto promise = Futures::startedPromise<void>();
    Futures::whenFinished(
        speechRecognition().requestAuthorization(), this,
        [this, promise, dictation](QFuture<SpeechAuthorizationStatus> authorization) {
            if (dictation != m_dictation) {
                promise->finish(); // the dictation ended meanwhile: nothing to recognise
                return;
            }
            if (Futures::failureOf(authorization) || authorization.result() != SpeechAuthorizationStatus::authorized)
                return Futures::finishWithFailure(
                    promise, std::make_exception_ptr(HybridTranscriptionError::speechAuthorizationDenied()));
            auto recognizer = speechRecognition().recognizer(LanguageOptions::localeIdentifier(m_currentLanguage));
            if (!recognizer || !recognizer->isAvailable())
                return Futures::finishWithFailure(
                    promise, std::make_exception_ptr(HybridTranscriptionError::speechRecognizerUnavailable()));

            m_speechRecognizer = std::move(recognizer);
            m_recognitionRequest = std::make_shared<RecognitionRequest>();
            m_recognitionRequest->setShouldReportPartialResults(true);
            if (m_speechRecognizer->supportsOnDeviceRecognition())
                m_recognitionRequest->setRequiresOnDeviceRecognition(true);

            m_currentSegmentBestPartial.clear();
            const quint64 generation = ++m_speechSessionGeneration;
            if (m_recognitionTask)
                m_recognitionTask->cancel();
            // Results arrive on the recogniser's thread; every field is touched
            // on the main thread only.
            QPointer<HybridRealtimeTranscriptionService> self(this);
            m_recognitionTask = m_speechRecognizer->recognitionTask(
                m_recognitionRequest,
                [self, generation](const std::optional<SpeechRecognitionResult> &result,
                                   const std::optional<QString> &error) {
                    QMetaObject::invokeMethod(
                        QCoreApplication::instance(),
                        [self, generation, result, error] {
                            if (self)
                                self->handleRecognitionResult(generation, result, error);
                        },
                        Qt::QueuedConnection);
                });
            promise->finish();
        });
    return promise->future();
}

QFuture<void> HybridRealtimeTranscriptionService::appendAudioFrames(const AudioSamples &frames)
{
    m_sessionFrames16k.append(frames);
    const qsizetype kept = m_sessionFrames16k.size() - m_sessionFramesStart;
    if (kept > maxSessionSamples)
        m_sessionFramesStart += kept - maxSessionSamples;
    if (m_sessionFramesStart >= kCompactionStep) {
        m_sessionFrames16k.remove(0, m_sessionFramesStart);
        m_sessionFramesStart = 0;
    }

    switch (m_activeMode) {
    case ASRModelPreference::whisperBase:
    case ASRModelPreference::whisperLargeV3:
        if (!m_whisperTurnHeldByDictation)
            return QtFuture::makeReadyFuture();
        return m_whisperService->appendAudioFrames(frames);
    case ASRModelPreference::whisperMode:
    case ASRModelPreference::cloudflareWhisper: {
        QFuture<void> cloud = m_cloudflareService->appendAudioFrames(frames);
        feedAppleSpeech(frames);
        return cloud;
    }
    default:
        feedAppleSpeech(frames);
        return QtFuture::makeReadyFuture();
    }
}

void HybridRealtimeTranscriptionService::feedAppleSpeech(const AudioSamples &frames)
{
    if (frames.isEmpty())
        return;
    if (m_appleSpeechRestarting) {
        if (m_pendingFramesDuringRestart.size() < maxPendingBatches)
            m_pendingFramesDuringRestart.append(frames);
        else
            ++m_droppedBatchesDuringRestart;
        return;
    }
    if (m_recognitionRequest)
        m_recognitionRequest->append(frames);
}

void HybridRealtimeTranscriptionService::handleRecognitionResult(quint64 generation,
                                                                 const std::optional<SpeechRecognitionResult> &result,
                                                                 const std::optional<QString> &error)
{
    if (generation != m_speechSessionGeneration)
        return;
    // While a stop waits, only the final result counts: it holds the last words.
    if (m_isStopping && !(result && result->isFinal))
        return;
    if (result) {
        const QString text = TextUtils::trimmed(result->formattedString);
        const qsizetype count = characters(text);
        const qsizetype best = characters(m_currentSegmentBestPartial);
        if (count >= best) {
            m_currentSegmentBestPartial = text;
        } else if (best >= 101 && count < best * 3 / 10 && count >= 6) {
            // The recogniser dropped its older words: keep them as a finished segment.
            logLine(kAsr, QStringLiteral("Window slide: %1 → %2 chars, freezing").arg(best).arg(count));
            freezeCurrentSegment();
            m_currentSegmentBestPartial = text;
        }
        const QString combined = combinedLiveText(m_currentSegmentBestPartial);
        if (characters(combined) >= characters(m_latestPartialText))
            m_latestPartialText = combined;
        postPartialText(m_latestPartialText);
        if (result->isFinal && !m_isStopping)
            restartAppleSpeech();
    }
    if (error) {
        logLine(kAppleSpeech, QStringLiteral("Task error: %1").arg(*error));
        restartAppleSpeech();
    }
}

QString HybridRealtimeTranscriptionService::combinedLiveText(const QString &segment) const
{
    if (m_preservedTextFromPriorSegments.isEmpty())
        return segment;
    if (segment.isEmpty())
        return m_preservedTextFromPriorSegments;
    return m_preservedTextFromPriorSegments + u' ' + segment;
}

void HybridRealtimeTranscriptionService::freezeCurrentSegment()
{
    if (!m_preservedTextFromPriorSegments.isEmpty())
        m_preservedTextFromPriorSegments += u' ';
    m_preservedTextFromPriorSegments += m_currentSegmentBestPartial;
}

void HybridRealtimeTranscriptionService::postPartialText(const QString &text)
{
    if (!m_onPartialText)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (m_onPartialText)
                m_onPartialText(text);
        },
        Qt::QueuedConnection);
}

void HybridRealtimeTranscriptionService::restartAppleSpeech()
{
    if (m_appleSpeechRestarting)
        return;
    if (m_lastRestartTime) {
        const Duration since = m_clock.now() - *m_lastRestartTime;
        if (since < kRestartThrottle) {
            logLine(kAppleSpeech, QStringLiteral("Throttling rapid restart (last was %1s ago)")
                                      .arg(toSeconds(since), 0, 'f', 2));
            // Postponed, not refused: the batches wait for the new request.
            m_appleSpeechRestarting = true;
            const quint64 dictation = m_dictation;
            m_clock.callAfter(kRestartThrottle - since, this, [this, dictation] {
                if (dictation == m_dictation && !m_isStopping)
                    beginRestart();
            });
            return;
        }
    }
    beginRestart();
}

void HybridRealtimeTranscriptionService::beginRestart()
{
    m_appleSpeechRestarting = true;
    m_lastRestartTime = m_clock.now();
    ++m_speechSessionGeneration; // late calls of the ended task are ignored

    if (!m_currentSegmentBestPartial.isEmpty())
        freezeCurrentSegment();
    m_currentSegmentBestPartial.clear();
    if (characters(m_preservedTextFromPriorSegments) >= characters(m_latestPartialText))
        m_latestPartialText = m_preservedTextFromPriorSegments;
    if (!m_latestPartialText.isEmpty())
        postPartialText(m_latestPartialText);

    if (m_recognitionRequest)
        m_recognitionRequest->endAudio();
    if (m_recognitionTask)
        m_recognitionTask->cancel();
    m_recognitionTask.reset();
    m_recognitionRequest.reset();

    const quint64 dictation = m_dictation;
    m_clock.callAfter(kRestartPause, this, [this, dictation] { runRestartAttempt(dictation, 0); });
}

void HybridRealtimeTranscriptionService::runRestartAttempt(quint64 dictation, int attempt)
{
    if (dictation != m_dictation || m_isStopping)
        return; // the stop or the next start has already reset the restart state
    Futures::whenFinished(startAppleSpeech(dictation), this, [this, dictation, attempt](QFuture<void> started) {
        if (dictation != m_dictation)
            return;
        if (const std::exception_ptr error = Futures::failureOf(started)) {
            logLine(kAppleSpeech,
                    QStringLiteral("Restart attempt %1 failed: %2").arg(attempt + 1).arg(describeException(error)));
            if (attempt + 1 >= maxRestartAttempts) {
                logLine(kAppleSpeech, QStringLiteral("Giving up live recognition after %1 failed restarts; the "
                                                     "recording is kept for the final text")
                                          .arg(attempt + 1));
                m_appleSpeechRestarting = false;
                m_pendingFramesDuringRestart.clear();
                return;
            }
            m_clock.callAfter(restartBackoff(attempt), this,
                              [this, dictation, attempt] { runRestartAttempt(dictation, attempt + 1); });
            return;
        }
        const QList<AudioSamples> held = std::exchange(m_pendingFramesDuringRestart, {});
        for (const AudioSamples &batch : held)
            m_recognitionRequest->append(batch);
        m_appleSpeechRestarting = false;
        logLine(kAppleSpeech, QStringLiteral("Restarted (attempt %1)").arg(attempt + 1));
        if (!held.isEmpty())
            logLine(kAppleSpeech, QStringLiteral("Fed %1 held frame batches to the new request").arg(held.size()));
        if (m_droppedBatchesDuringRestart > 0) {
            logLine(kAppleSpeech, QStringLiteral("Dropped %1 frame batches beyond the restart buffer")
                                      .arg(m_droppedBatchesDuringRestart));
            m_droppedBatchesDuringRestart = 0;
        }
    });
}

QFuture<QString> HybridRealtimeTranscriptionService::stopAndFinalize()
{
    m_isStopping = true;
    ++m_dictation; // ends restarts and postponed restarts of this dictation
    m_appleSpeechRestarting = false;
    m_pendingFramesDuringRestart.clear();
    m_droppedBatchesDuringRestart = 0;

    const QString latest = m_latestPartialText;
    const QString pre = combinedLiveText(m_currentSegmentBestPartial);
    if (m_recognitionRequest)
        m_recognitionRequest->endAudio();

    auto promise = Futures::startedPromise<QString>();
    waitForRecognizer(m_clock.now(), [this, promise, pre, latest] {
        const QString post = combinedLiveText(m_currentSegmentBestPartial);
        if (m_recognitionTask)
            m_recognitionTask->cancel();
        m_recognitionTask.reset();
        m_recognitionRequest.reset();
        m_isStopping = false;

        const QString best = chooseBestText(pre, post, latest);
        logLine(kHybrid, QStringLiteral("Final: pre=%1 post=%2 latest=%3 → best=%4 chars")
                             .arg(characters(pre))
                             .arg(characters(post))
                             .arg(characters(latest))
                             .arg(characters(best)));

        auto answer = [promise](const QString &text) {
            promise->addResult(text);
            promise->finish();
        };
        switch (m_activeMode) {
        case ASRModelPreference::parallelFast: {
            logLine(kHybrid, "Parallel stop: launching Whisper Base refinement");
            const AudioSamples frames = sessionFrames();
            const LanguageOption language = m_currentLanguage;
            const bool large = m_largeModelEnabled;
            QMetaObject::invokeMethod(
                this, [this, frames, language, large] { runWhisperRefinement(frames, language, large); },
                Qt::QueuedConnection);
            answer(best);
            break;
        }
        case ASRModelPreference::whisperBase:
        case ASRModelPreference::whisperLargeV3:
            if (!m_whisperTurnHeldByDictation) {
                answer(QString());
                break;
            }
            Futures::whenFinished(m_whisperService->stopAndFinalize(), this, [this, answer](QFuture<QString> stopped) {
                m_forwardWhisperPartials = false;
                m_whisperTurnHeldByDictation = false;
                releaseWhisperTurn();
                answer(Futures::failureOf(stopped) ? QString() : stopped.result());
            });
            break;
        case ASRModelPreference::cloudflareWhisper:
            Futures::whenFinished(m_cloudflareService->stopAndFinalize(), this,
                                  [promise, answer, best](QFuture<QString> stopped) {
                                      if (const std::exception_ptr error = Futures::failureOf(stopped))
                                          return Futures::finishWithFailure(promise, error);
                                      const QString text = stopped.result();
                                      answer(text.isEmpty() ? best : text);
                                  });
            break;
        default:
            answer(best);
            break;
        }
    });
    return promise->future();
}

void HybridRealtimeTranscriptionService::waitForRecognizer(Duration startedAt, std::function<void()> done)
{
    if (m_clock.now() - startedAt >= kStopWait) {
        done();
        return;
    }
    m_clock.callAfter(kStopPoll, this, [this, startedAt, done = std::move(done)]() mutable {
        if (m_recognitionTask && m_recognitionTask->state() == RecognitionTaskState::completed) {
            // Queued behind the results the task posted before it completed.
            QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
            return;
        }
        waitForRecognizer(startedAt, std::move(done));
    });
}

QString HybridRealtimeTranscriptionService::chooseBestText(const QString &pre, const QString &post,
                                                           const QString &latest)
{
    QString best;
    qsizetype bestCount = 0;
    for (const QString *candidate : { &pre, &post, &latest }) {
        const qsizetype count = characters(*candidate);
        if (count > bestCount) {
            best = *candidate;
            bestCount = count;
        }
    }
    return best;
}

AudioSamples HybridRealtimeTranscriptionService::sessionFrames() const
{
    return m_sessionFramesStart == 0 ? m_sessionFrames16k : m_sessionFrames16k.mid(m_sessionFramesStart);
}

void HybridRealtimeTranscriptionService::takeWhisperTurn(std::function<void()> job)
{
    if (m_whisperBusy) {
        m_whisperWaiting.push_back(std::move(job));
        return;
    }
    m_whisperBusy = true;
    job();
}

void HybridRealtimeTranscriptionService::releaseWhisperTurn()
{
    if (m_whisperWaiting.empty()) {
        m_whisperBusy = false;
        return;
    }
    std::function<void()> next = std::move(m_whisperWaiting.front());
    m_whisperWaiting.pop_front();
    next();
}

void HybridRealtimeTranscriptionService::runWhisperRefinement(AudioSamples frames, LanguageOption language,
                                                              bool largeModelEnabled)
{
    if (frames.isEmpty()) {
        logLine(kHybrid, "No frames for Whisper refinement");
        report(m_onBaseModelFailed);
        if (largeModelEnabled)
            report(m_onLargeModelFailed);
        return;
    }
    takeWhisperTurn([this, frames, language, largeModelEnabled] {
        logLine(kHybrid, QStringLiteral("Running Whisper Base refinement on %1 frames (%2s)")
                             .arg(frames.size())
                             .arg(double(frames.size()) / kSampleRate, 0, 'f', 1));
        runWhisperPass(ASRModelPreference::whisperBase, frames, language,
                       [this, frames, language, largeModelEnabled](std::exception_ptr error, const QString &base) {
                           reportBaseStage(error, base, largeModelEnabled);
                           if (error || !largeModelEnabled)
                               releaseWhisperTurn();
                           else
                               runLargeStage(frames, language);
                       });
    });
}

void HybridRealtimeTranscriptionService::reportBaseStage(const std::exception_ptr &error, const QString &text,
                                                         bool largeModelEnabled)
{
    if (error) {
        // The Large pass is not run after a failed Base pass, but its stage
        // still gets its one report.
        logLine(kHybrid, QStringLiteral("Whisper refinement failed: %1").arg(describeException(error)));
        report(m_onBaseModelFailed);
        if (largeModelEnabled)
            report(m_onLargeModelFailed);
    } else if (!text.isEmpty()) {
        logLine(kHybrid, QStringLiteral("Whisper Base refined: %1 chars").arg(characters(text)));
        report(m_onRefinedText, text);
    } else {
        logLine(kHybrid, "Whisper Base returned no text");
        report(m_onBaseModelFailed);
    }
}

void HybridRealtimeTranscriptionService::runLargeStage(const AudioSamples &frames, LanguageOption language)
{
    if (!isCoreMLEncoderInstalled()) {
        logLine(kHybrid, "Skipping Whisper Large — Core ML encoder not yet installed (would take 3+ min on "
                         "CPU). Will run once encoder downloads.");
        report(m_onLargeModelFailed);
        releaseWhisperTurn();
        return;
    }
    logLine(kHybrid, QStringLiteral("Running Whisper Large v3 on %1 frames").arg(frames.size()));
    runWhisperPass(ASRModelPreference::whisperLargeV3, frames, language,
                   [this](std::exception_ptr error, const QString &large) {
                       if (error) {
                           logLine(kHybrid, QStringLiteral("Whisper Large failed: %1, falling back to Base result")
                                                .arg(describeException(error)));
                           report(m_onLargeModelFailed);
                       } else if (!large.isEmpty()) {
                           logLine(kHybrid, QStringLiteral("Whisper Large refined: %1 chars").arg(characters(large)));
                           report(m_onLargeModelText, large);
                       } else {
                           logLine(kHybrid, "Whisper Large returned empty, falling back");
                           report(m_onLargeModelFailed);
                       }
                       releaseWhisperTurn();
                   });
}

void HybridRealtimeTranscriptionService::runWhisperPass(ASRModelPreference model, const AudioSamples &frames,
                                                        LanguageOption language,
                                                        std::function<void(std::exception_ptr, QString)> done)
{
    m_whisperService->setPreferredASRModel(model);
    Futures::whenFinished(m_whisperService->start(language), this, [this, frames, done](QFuture<void> started) {
        if (const std::exception_ptr error = Futures::failureOf(started))
            return done(error, {});
        Futures::whenFinished(m_whisperService->appendAudioFrames(frames), this, [this, done](QFuture<void>) {
            Futures::whenFinished(m_whisperService->stopAndFinalize(), this, [done](QFuture<QString> stopped) {
                if (const std::exception_ptr error = Futures::failureOf(stopped))
                    return done(error, {});
                done(nullptr, stopped.result());
            });
        });
    });
}

void HybridRealtimeTranscriptionService::report(const TextHandler &handler, const QString &text)
{
    if (!handler)
        return;
    QMetaObject::invokeMethod(this, [handler, text] { handler(text); }, Qt::QueuedConnection);
}

void HybridRealtimeTranscriptionService::report(const FailureHandler &handler)
{
    if (!handler)
        return;
    QMetaObject::invokeMethod(this, [handler] { handler(); }, Qt::QueuedConnection);
}

bool HybridRealtimeTranscriptionService::isCoreMLEncoderInstalled()
{
    const std::optional<QString> container = Platform::instance().paths().appGroupContainer();
    if (!container)
        return false;
    const QDir models(QDir(*container).filePath(ModelManager::defaultModelsDirectoryName));
    return QFileInfo::exists(models.filePath(QStringLiteral("ggml-large-v3-encoder.mlmodelc")));
}
