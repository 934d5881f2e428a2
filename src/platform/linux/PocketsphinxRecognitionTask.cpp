#include "PocketsphinxRecognitionTask.h"

#include "PocketsphinxDecoder.h"

#include "platform/RecognitionWorkerState.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include <pthread.h>

struct PocketsphinxRecognitionTask::Worker : RecognitionWorkerState {
    std::shared_ptr<PocketsphinxDecoderPool> pool;

    void run();
};

namespace {
// Work in slices so that a cancel is noticed within a few milliseconds.
constexpr size_t sliceSamples = 1024;

int16_t toPcm16(float sample)
{
    if (std::isnan(sample))
        return 0;
    return int16_t(std::lround(std::clamp(sample, -1.0f, 1.0f) * 32767.0f));
}
} // namespace

void PocketsphinxRecognitionTask::Worker::run()
{
    std::unique_ptr<PocketsphinxDecoder> decoder = pool->acquire();
    if (!decoder || !decoder->startUtterance()) {
        deliver(std::nullopt, QStringLiteral("The speech recognition model could not be loaded."));
        state = RecognitionTaskState::completed;
        return;
    }
    RecognitionTaskState starting = RecognitionTaskState::starting;
    state.compare_exchange_strong(starting, RecognitionTaskState::running);

    std::vector<int16_t> pcm;
    size_t sinceLastPartial = 0;
    QString lastPartial;
    bool failed = false;
    while (!cancelled && !failed) {
        const RecognitionRequest::Audio audio = request->waitForAudio();
        pcm.resize(size_t(audio.samples.size()));
        std::transform(audio.samples.cbegin(), audio.samples.cend(), pcm.begin(), toPcm16);
        for (size_t offset = 0; offset < pcm.size() && !cancelled; offset += sliceSamples) {
            const size_t count = std::min(sliceSamples, pcm.size() - offset);
            if (!decoder->process(pcm.data() + offset, count)) {
                failed = true;
                break;
            }
            sinceLastPartial += count;
            if (sinceLastPartial >= partialIntervalSamples) {
                sinceLastPartial = 0;
                const QString text = decoder->hypothesis();
                if (request->shouldReportPartialResults() && !text.isEmpty() && text != lastPartial) {
                    lastPartial = text;
                    deliver(SpeechRecognitionResult { text, false }, std::nullopt);
                }
            }
        }
        if (audio.ended || failed)
            break;
    }

    if (cancelled) {
        decoder->endUtterance();
    } else if (failed) {
        decoder->endUtterance();
        deliver(std::nullopt, QStringLiteral("Speech recognition failed while decoding audio."));
    } else {
        RecognitionTaskState running = RecognitionTaskState::running;
        state.compare_exchange_strong(running, RecognitionTaskState::finishing);
        decoder->endUtterance();
        deliver(SpeechRecognitionResult { decoder->hypothesis(), true }, std::nullopt);
    }
    pool->release(std::move(decoder));
    state = RecognitionTaskState::completed;
}

PocketsphinxRecognitionTask::PocketsphinxRecognitionTask(std::shared_ptr<PocketsphinxDecoderPool> pool,
                                                         std::shared_ptr<RecognitionRequest> request,
                                                         RecognitionResultHandler handler)
    : m_worker(std::make_shared<Worker>())
{
    m_worker->pool = std::move(pool);
    m_worker->request = std::move(request);
    m_worker->handler = std::move(handler);
    const quint64 id = m_worker->pool->workerStarted([weak = std::weak_ptr<Worker>(m_worker)] {
        if (auto worker = weak.lock())
            worker->cancel();
    });
    // Detached: the worker owns what it uses, and the pool's shutdown cancels
    // and waits for every worker.
    std::thread thread([worker = m_worker, id]() mutable {
        worker->run();
        auto pool = worker->pool;
        worker.reset();
        pool->workerFinished(id);
    });
    // Named like the application's other workers, so it can be told apart.
    pthread_setname_np(thread.native_handle(), threadName);
    thread.detach();
}

PocketsphinxRecognitionTask::~PocketsphinxRecognitionTask()
{
    cancel();
}

void PocketsphinxRecognitionTask::cancel()
{
    m_worker->cancel();
}

RecognitionTaskState PocketsphinxRecognitionTask::state() const
{
    return m_worker->state;
}
