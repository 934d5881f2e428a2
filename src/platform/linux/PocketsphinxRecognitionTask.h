#pragma once

#include "platform/RecognitionTask.h"
#include "platform/RecognitionRequest.h"

#include <memory>

class PocketsphinxDecoderPool;

// Decodes a request's audio on a worker thread of its own: partial results at
// a steady cadence while audio arrives, one final result after the end of
// the audio.
class PocketsphinxRecognitionTask : public RecognitionTask {
public:
    // Audio decoded between two looks at the partial hypothesis (0.25 s).
    static constexpr size_t partialIntervalSamples = RecognitionRequest::sampleRate / 4;
    // The name of each worker thread, as ps and /proc show it.
    static constexpr char threadName[] = "live-speech";

    PocketsphinxRecognitionTask(std::shared_ptr<PocketsphinxDecoderPool> pool,
                                std::shared_ptr<RecognitionRequest> request, RecognitionResultHandler handler);
    ~PocketsphinxRecognitionTask() override;

    void cancel() override;
    RecognitionTaskState state() const override;

private:
    struct Worker;
    std::shared_ptr<Worker> m_worker;
};
