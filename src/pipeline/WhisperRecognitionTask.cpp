#include "WhisperRecognitionTask.h"

#include "pipeline/TranscriptPostProcessor.h"
#include "platform/RecognitionWorkerState.h"
#include "support/Log.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {
constexpr char kTag[] = "LiveSpeech";
using DecodePass = WhisperCppEngineAdapter::DecodePass;

QString joined(const QString &committed, const QString &tail)
{
    if (committed.isEmpty() || tail.isEmpty())
        return committed + tail;
    return committed + u' ' + tail;
}

bool isSpeech(const float *samples, std::size_t count)
{
    double energy = 0;
    for (std::size_t i = 0; i < count; ++i)
        energy += double(samples[i]) * double(samples[i]);
    return count > 0 && std::sqrt(energy / double(count)) > WhisperRecognitionTask::speechLevel;
}
} // namespace

struct WhisperRecognitionTask::Worker : RecognitionWorkerState {
    Setup setup;
    std::shared_ptr<Workers> workers;

    // The utterance so far: committed text, and the audio and text of the tail.
    TailDecoder decoder;
    QString committed;
    QString tailText;
    std::vector<float> tail;
    std::size_t analysed = 0; // tail samples already classified
    bool tailHasSpeech = false;
    int trailingSilence = 0;
    int sinceTailDecode = 0;
    QString published;
    // Bookkeeping for the closing log line.
    double secondsHeard = 0;
    int commits = 0;
    std::size_t longestDecode = 0;

    void run();
    void take(const QList<float> &samples);
    std::optional<QString> decodeTail(DecodePass pass, const WhisperCppEngineAdapter::AbortCheck &abort);
    void commit();
    void publish(const QString &text);

};

void WhisperRecognitionTask::Worker::run()
{
    try {
        decoder = setup.openDecoder(setup.modelPath);
    } catch (...) {
        deliver(std::nullopt, QStringLiteral("The Whisper speech model could not be loaded."));
        state = RecognitionTaskState::completed;
        return;
    }
    RecognitionTaskState starting = RecognitionTaskState::starting;
    state.compare_exchange_strong(starting, RecognitionTaskState::running);

    try {
        while (!cancelled) {
            const RecognitionRequest::Audio audio = request->waitForAudio();
            take(audio.samples);
            if (audio.ended || cancelled)
                break;
            // Whatever arrived during the last decode is in the tail now: one
            // decode covers it all, so decoding never falls behind.
            if (tailHasSpeech && sinceTailDecode >= partialIntervalSamples) {
                const auto text = decodeTail(DecodePass::live, [this] { return cancelled || request->isAudioEnded(); });
                if (text) {
                    tailText = *text;
                    sinceTailDecode = 0;
                    publish(joined(committed, tailText));
                }
            }
        }
        if (!cancelled) {
            RecognitionTaskState running = RecognitionTaskState::running;
            state.compare_exchange_strong(running, RecognitionTaskState::finishing);
            std::optional<QString> last = QString();
            if (tailHasSpeech)
                last = decodeTail(DecodePass::closing, [this] { return cancelled.load(); });
            if (last) {
                logLine(kTag, QStringLiteral("Whisper recognition ended: %1 s heard, %2 commits, longest decode %3 s")
                                  .arg(secondsHeard, 0, 'f', 1)
                                  .arg(commits)
                                  .arg(double(longestDecode) / RecognitionRequest::sampleRate, 0, 'f', 1));
                deliver(SpeechRecognitionResult { joined(committed, *last), true }, std::nullopt);
            }
        }
    } catch (const std::exception &error) {
        logLine(kTag, QStringLiteral("Whisper recognition failed: %1").arg(QString::fromLocal8Bit(error.what())));
        deliver(std::nullopt, QStringLiteral("Speech recognition failed while decoding audio."));
    }
    decoder = nullptr;
    state = RecognitionTaskState::completed;
}

// Classifies the new audio frame by frame and commits the tail at a pause or
// at the length cap, so no decode ever covers more than one tail.
void WhisperRecognitionTask::Worker::take(const QList<float> &samples)
{
    secondsHeard += double(samples.size()) / RecognitionRequest::sampleRate;
    for (qsizetype offset = 0; offset < samples.size() && !cancelled;) {
        const qsizetype count = std::min({samples.size() - offset, qsizetype(frameSamples),
                                          qsizetype(maxTailSamples) - qsizetype(tail.size())});
        tail.insert(tail.end(), samples.constData() + offset, samples.constData() + offset + count);
        offset += count;
        if (tail.size() - analysed >= std::size_t(frameSamples)) {
            if (isSpeech(tail.data() + analysed, frameSamples)) {
                tailHasSpeech = true;
                trailingSilence = 0;
            } else {
                trailingSilence += frameSamples;
            }
            if (tailHasSpeech)
                sinceTailDecode += frameSamples;
            analysed += frameSamples;
        }
        // Silence before any speech is not kept beyond the lead-in (trimmed in steps).
        if (!tailHasSpeech && tail.size() >= std::size_t(2 * leadInSamples)) {
            const std::size_t drop = tail.size() - leadInSamples;
            tail.erase(tail.begin(), tail.begin() + qsizetype(drop));
            analysed -= std::min(analysed, drop);
        }
        if (tailHasSpeech && (trailingSilence >= pauseSamples || tail.size() >= std::size_t(maxTailSamples)))
            commit();
    }
}

std::optional<QString> WhisperRecognitionTask::Worker::decodeTail(DecodePass pass,
                                                                  const WhisperCppEngineAdapter::AbortCheck &abort)
{
    longestDecode = std::max(longestDecode, tail.size());
    std::optional<QString> text = decoder(tail, setup.language, pass, abort);
    // What Whisper invents over noise never reaches the live text.
    if (text && TranscriptPostProcessor::isHallucination(*text))
        text = QString();
    return text;
}

void WhisperRecognitionTask::Worker::commit()
{
    const std::optional<QString> text = decodeTail(DecodePass::live, [this] { return cancelled.load(); });
    if (!text)
        return;
    committed = joined(committed, *text);
    ++commits;
    tail.clear();
    analysed = 0;
    tailHasSpeech = false;
    trailingSilence = 0;
    sinceTailDecode = 0;
    tailText.clear();
    publish(committed);
}

void WhisperRecognitionTask::Worker::publish(const QString &text)
{
    if (!request->shouldReportPartialResults() || text.isEmpty() || text == published)
        return;
    published = text;
    deliver(SpeechRecognitionResult { text, false }, std::nullopt);
}

WhisperRecognitionTask::OpenDecoder
WhisperRecognitionTask::whisperCppDecoders(WhisperCppEngineAdapter::ModelCache &models,
                                           WhisperCppEngineAdapter::ProcessorCount processorCount, int tokenLimit)
{
    return [&models, processorCount = std::move(processorCount), tokenLimit](const QString &modelPath) -> TailDecoder {
        auto decoder = std::make_shared<WhisperCppEngineAdapter::Decoder>(models.load(modelPath), processorCount);
        decoder->setTokenLimit(tokenLimit);
        return [decoder](const std::vector<float> &samples, LanguageOption language, DecodePass pass,
                         const WhisperCppEngineAdapter::AbortCheck &shouldAbort) {
            return decoder->decode(samples, language, pass, shouldAbort);
        };
    };
}

WhisperRecognitionTask::WhisperRecognitionTask(Setup setup, std::shared_ptr<Workers> workers,
                                               std::shared_ptr<RecognitionRequest> request,
                                               RecognitionResultHandler handler)
    : m_worker(std::make_shared<Worker>())
{
    m_worker->setup = std::move(setup);
    m_worker->workers = std::move(workers);
    m_worker->request = std::move(request);
    m_worker->handler = std::move(handler);
    const quint64 id = m_worker->workers->started(m_worker);
    // Detached: the worker owns what it uses, and the owner's shutdown cancels
    // and waits for every worker.
    std::thread([worker = m_worker, id]() mutable {
        worker->run();
        auto workers = worker->workers;
        worker.reset();
        workers->finished(id);
    }).detach();
}

WhisperRecognitionTask::~WhisperRecognitionTask()
{
    cancel();
}

void WhisperRecognitionTask::cancel()
{
    m_worker->cancel();
}

RecognitionTaskState WhisperRecognitionTask::state() const
{
    return m_worker->state;
}

quint64 WhisperRecognitionTask::Workers::started(std::weak_ptr<Worker> worker)
{
    std::lock_guard lock(m_mutex);
    m_running.emplace(m_next, std::move(worker));
    return m_next++;
}

void WhisperRecognitionTask::Workers::finished(quint64 id)
{
    std::lock_guard lock(m_mutex);
    m_running.erase(id);
    m_allDone.notify_all();
}

void WhisperRecognitionTask::Workers::shutdown()
{
    std::unique_lock lock(m_mutex);
    for (const auto &[id, weak] : m_running) {
        if (const auto worker = weak.lock())
            worker->cancel();
    }
    m_allDone.wait(lock, [this] { return m_running.empty(); });
}
