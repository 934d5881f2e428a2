#include "LiveRecognitionSupervisor.h"

#include "pipeline/HybridTranscriptionError.h"
#include "platform/SpeechRecognizer.h"
#include "support/FutureWatch.h"
#include "support/Handover.h"
#include "support/Log.h"
#include "support/TextUtils.h"

#include <QCoreApplication>
#include <QPointer>

#include <cmath>

using namespace std::chrono_literals;

namespace {
constexpr char kLiveTag[] = "AppleSpeech";
constexpr char kAsrTag[] = "BRV-ASR";
constexpr char kHybridTag[] = "Hybrid";

constexpr auto kRestartThrottle = 1s;
constexpr auto kRestartPause = 200ms;
constexpr auto kStopWait = 800ms;
constexpr auto kStopPoll = 100ms;

MonotonicClock::Duration restartBackoff(int attempt)
{
    const double seconds = std::min(0.5 * std::pow(2.0, attempt), 5.0);
    return std::chrono::duration_cast<MonotonicClock::Duration>(std::chrono::duration<double>(seconds));
}

qsizetype characters(const QString &text)
{
    return TextUtils::graphemeCount(text);
}
} // namespace

LiveRecognitionSupervisor::LiveRecognitionSupervisor(SpeechRecognition &recognition, MonotonicClock &clock,
                                                     QObject *parent)
    : QObject(parent)
    , m_recognition(recognition)
    , m_clock(clock)
{
}

LiveRecognitionSupervisor::~LiveRecognitionSupervisor()
{
    if (m_recognitionTask)
        m_recognitionTask->cancel();
    if (m_recognitionRequest)
        m_recognitionRequest->endAudio();
}

void LiveRecognitionSupervisor::beginDictation(LanguageOption language)
{
    ++m_dictation;
    m_restarting = false;
    m_pendingFramesDuringRestart.clear();
    m_droppedBatchesDuringRestart = 0;
    m_latestPartialText = m_preservedTextFromPriorSegments;
    m_currentSegmentBestPartial.clear();
    m_language = language;
}

QFuture<void> LiveRecognitionSupervisor::start()
{
    return startRecognition(m_dictation);
}

void LiveRecognitionSupervisor::clearLiveText()
{
    m_latestPartialText.clear();
    m_preservedTextFromPriorSegments.clear();
    m_currentSegmentBestPartial.clear();
}

QFuture<void> LiveRecognitionSupervisor::startRecognition(quint64 dictation)
{
    return m_followed.follow(m_recognition.requestAuthorization()).then(
        this, [this, dictation](QFuture<SpeechAuthorizationStatus> authorization) {
            if (dictation != m_dictation)
                return; // the dictation ended meanwhile: nothing to recognise
            if (Futures::failureOf(authorization) || authorization.result() != SpeechAuthorizationStatus::authorized)
                throw HybridTranscriptionError::speechAuthorizationDenied();
            auto recognizer = m_recognition.recognizer(LanguageOptions::localeIdentifier(m_language));
            if (!recognizer || !recognizer->isAvailable())
                throw HybridTranscriptionError::speechRecognizerUnavailable();
            openSegment(std::move(recognizer));
        });
}

void LiveRecognitionSupervisor::openSegment(std::unique_ptr<SpeechRecognizer> recognizer)
{
    m_speechRecognizer = std::move(recognizer);
    m_recognitionRequest = std::make_shared<RecognitionRequest>();
    m_recognitionRequest->setShouldReportPartialResults(true);
    if (m_speechRecognizer->supportsOnDeviceRecognition())
        m_recognitionRequest->setRequiresOnDeviceRecognition(true);

    m_currentSegmentBestPartial.clear();
    const quint64 generation = ++m_speechSessionGeneration;
    if (m_recognitionTask)
        m_recognitionTask->cancel();
    // The restart is over before the new task can report: an error it posts
    // at once must be free to restart it again.
    if (m_restarting)
        finishRestart();
    // Results arrive on the recogniser's thread; every field is touched on the
    // main thread only.
    QPointer<LiveRecognitionSupervisor> self(this);
    m_recognitionTask = m_speechRecognizer->recognitionTask(
        m_recognitionRequest,
        [self, generation](const std::optional<SpeechRecognitionResult> &result, const std::optional<QString> &error) {
            Handover::post(QCoreApplication::instance(), [self, generation, result, error] {
                if (self)
                    self->handleRecognitionResult(generation, result, error);
            });
        });
}

void LiveRecognitionSupervisor::feed(const AudioSamples &frames)
{
    if (frames.isEmpty())
        return;
    if (m_restarting) {
        if (m_pendingFramesDuringRestart.size() < maxPendingBatches)
            m_pendingFramesDuringRestart.append(frames);
        else
            ++m_droppedBatchesDuringRestart;
        return;
    }
    if (m_recognitionRequest)
        m_recognitionRequest->append(frames);
}

void LiveRecognitionSupervisor::handleRecognitionResult(quint64 generation,
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
            logLine(kAsrTag, QStringLiteral("Window slide: %1 → %2 chars, freezing").arg(best).arg(count));
            freezeCurrentSegment();
            m_currentSegmentBestPartial = text;
        }
        const QString combined = combinedLiveText(m_currentSegmentBestPartial);
        if (characters(combined) >= characters(m_latestPartialText))
            m_latestPartialText = combined;
        reportLiveText();
        if (result->isFinal && !m_isStopping)
            restart();
    }
    if (error) {
        logLine(kLiveTag, QStringLiteral("Task error: %1").arg(*error));
        restart();
    }
}

QString LiveRecognitionSupervisor::combinedLiveText(const QString &segment) const
{
    if (m_preservedTextFromPriorSegments.isEmpty())
        return segment;
    if (segment.isEmpty())
        return m_preservedTextFromPriorSegments;
    return m_preservedTextFromPriorSegments + u' ' + segment;
}

void LiveRecognitionSupervisor::freezeCurrentSegment()
{
    if (!m_preservedTextFromPriorSegments.isEmpty())
        m_preservedTextFromPriorSegments += u' ';
    m_preservedTextFromPriorSegments += m_currentSegmentBestPartial;
}

void LiveRecognitionSupervisor::reportLiveText()
{
    if (m_onLiveText)
        m_onLiveText(m_latestPartialText);
}

void LiveRecognitionSupervisor::restart()
{
    if (m_restarting)
        return;
    if (m_lastRestartTime) {
        const Duration since = m_clock.now() - *m_lastRestartTime;
        if (since < kRestartThrottle) {
            logLine(kLiveTag,
                    QStringLiteral("Throttling rapid restart (last was %1s ago)").arg(toSeconds(since), 0, 'f', 2));
            // Postponed, not refused: the batches wait for the new request.
            m_restarting = true;
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

void LiveRecognitionSupervisor::beginRestart()
{
    m_restarting = true;
    m_lastRestartTime = m_clock.now();
    ++m_speechSessionGeneration; // late calls of the ended task are ignored

    if (!m_currentSegmentBestPartial.isEmpty())
        freezeCurrentSegment();
    m_currentSegmentBestPartial.clear();
    if (characters(m_preservedTextFromPriorSegments) >= characters(m_latestPartialText))
        m_latestPartialText = m_preservedTextFromPriorSegments;
    if (!m_latestPartialText.isEmpty())
        reportLiveText();

    if (m_recognitionRequest)
        m_recognitionRequest->endAudio();
    if (m_recognitionTask)
        m_recognitionTask->cancel();
    m_recognitionTask.reset();
    m_recognitionRequest.reset();

    const quint64 dictation = m_dictation;
    m_clock.callAfter(kRestartPause, this, [this, dictation] { attemptRestart(dictation, 0); });
}

void LiveRecognitionSupervisor::attemptRestart(quint64 dictation, int attempt)
{
    if (dictation != m_dictation || m_isStopping)
        return; // the stop or the next dictation has already reset the restart state
    m_restartAttempt = attempt;
    m_followed.follow(Futures::cancellationAsFailure(startRecognition(dictation)))
        .onFailed(this, [this, dictation, attempt](const std::exception &error) {
            if (dictation != m_dictation)
                return;
            logLine(kLiveTag,
                    QStringLiteral("Restart attempt %1 failed: %2").arg(attempt + 1).arg(describeException(error)));
            if (attempt + 1 >= maxRestartAttempts) {
                logLine(kLiveTag, QStringLiteral("Giving up live recognition after %1 failed restarts; the "
                                                 "recording is kept for the final text")
                                      .arg(attempt + 1));
                m_restarting = false;
                m_pendingFramesDuringRestart.clear();
                return;
            }
            m_clock.callAfter(restartBackoff(attempt), this,
                              [this, dictation, attempt] { attemptRestart(dictation, attempt + 1); });
        });
}

void LiveRecognitionSupervisor::finishRestart()
{
    const QList<AudioSamples> held = std::exchange(m_pendingFramesDuringRestart, {});
    for (const AudioSamples &batch : held)
        m_recognitionRequest->append(batch);
    m_restarting = false;
    logLine(kLiveTag, QStringLiteral("Restarted (attempt %1)").arg(m_restartAttempt + 1));
    if (!held.isEmpty())
        logLine(kLiveTag, QStringLiteral("Fed %1 held frame batches to the new request").arg(held.size()));
    if (m_droppedBatchesDuringRestart > 0) {
        logLine(kLiveTag, QStringLiteral("Dropped %1 frame batches beyond the restart buffer")
                              .arg(m_droppedBatchesDuringRestart));
        m_droppedBatchesDuringRestart = 0;
    }
}

QFuture<QString> LiveRecognitionSupervisor::stop()
{
    m_isStopping = true;
    ++m_dictation; // ends restarts and postponed restarts of this dictation
    m_restarting = false;
    m_pendingFramesDuringRestart.clear();
    m_droppedBatchesDuringRestart = 0;

    const QString latest = m_latestPartialText;
    const QString pre = combinedLiveText(m_currentSegmentBestPartial);
    if (m_recognitionRequest)
        m_recognitionRequest->endAudio();

    return m_followed.follow(waitForRecognizer(m_clock.now())).then(this, [this, pre, latest] {
        const QString post = combinedLiveText(m_currentSegmentBestPartial);
        if (m_recognitionTask)
            m_recognitionTask->cancel();
        m_recognitionTask.reset();
        m_recognitionRequest.reset();
        m_isStopping = false;

        const QString best = chooseBestText(pre, post, latest);
        logLine(kHybridTag, QStringLiteral("Final: pre=%1 post=%2 latest=%3 → best=%4 chars")
                                .arg(characters(pre))
                                .arg(characters(post))
                                .arg(characters(latest))
                                .arg(characters(best)));
        return best;
    });
}

QFuture<void> LiveRecognitionSupervisor::waitForRecognizer(Duration startedAt)
{
    return m_followed.follow(m_clock.sleep(kStopPoll, this))
        .then(this,
              [this, startedAt] {
                  const bool completed =
                      m_recognitionTask && m_recognitionTask->state() == RecognitionTaskState::completed;
                  if (completed || m_clock.now() - startedAt >= kStopWait)
                      return afterQueuedResults();
                  return waitForRecognizer(startedAt);
              })
        .unwrap();
}

QFuture<void> LiveRecognitionSupervisor::afterQueuedResults()
{
    // The task posts its results to this thread; a final one posted just before
    // it completed must be seen before the stop reads the text.
    auto done = Futures::startedPromise<void>();
    QMetaObject::invokeMethod(this, [done] { done->finish(); }, Qt::QueuedConnection);
    return done->future();
}

QString LiveRecognitionSupervisor::chooseBestText(const QString &pre, const QString &post, const QString &latest)
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
