#pragma once

#include "pipeline/WhisperCppEngineAdapter.h"
#include "platform/RecognitionRequest.h"
#include "platform/RecognitionTask.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// Transcribes a request's audio with Whisper on a worker thread of its own,
// as a growing transcript: the text committed at each pause (or every 15 s of
// unbroken speech) plus the current tail, decoded about once a second while
// speech arrives. After the end of the audio the tail is decoded once more
// and the whole text comes as the final result.
class WhisperRecognitionTask : public RecognitionTask {
public:
    static constexpr int frameSamples = RecognitionRequest::sampleRate / 50; // 20 ms
    // RMS above which a frame counts as speech (about -40 dBFS).
    static constexpr float speechLevel = 0.01f;
    static constexpr int pauseSamples = RecognitionRequest::sampleRate / 2;
    static constexpr int maxTailSamples = 15 * RecognitionRequest::sampleRate;
    static constexpr int partialIntervalSamples = RecognitionRequest::sampleRate;
    // Audio kept before the first speech of a tail, so its first word is whole.
    static constexpr int leadInSamples = RecognitionRequest::sampleRate / 4;

    // Workers of every task of one owner, so the owner can stop and wait for them.
    class Workers;

    // Decodes one tail: the trimmed text, none when the abort check stopped it.
    using TailDecoder = std::function<std::optional<QString>(
        const std::vector<float> &samples, LanguageOption language, WhisperCppEngineAdapter::DecodePass pass,
        const WhisperCppEngineAdapter::AbortCheck &shouldAbort)>;
    // Opens a decoder on a model file, on the task's worker; throws when the model cannot be loaded.
    using OpenDecoder = std::function<TailDecoder(const QString &modelPath)>;

    // whisper.cpp decoding states over the cache's models. tokenLimit: benchmarks
    // on random weights only (see WhisperCppEngineAdapter::Decoder).
    static OpenDecoder whisperCppDecoders(WhisperCppEngineAdapter::ModelCache &models,
                                          WhisperCppEngineAdapter::ProcessorCount processorCount, int tokenLimit = 0);

    struct Setup {
        QString modelPath;
        LanguageOption language = LanguageOption::english;
        OpenDecoder openDecoder;
    };

    WhisperRecognitionTask(Setup setup, std::shared_ptr<Workers> workers, std::shared_ptr<RecognitionRequest> request,
                           RecognitionResultHandler handler);
    ~WhisperRecognitionTask() override;

    void cancel() override;
    RecognitionTaskState state() const override;

private:
    struct Worker;
    std::shared_ptr<Worker> m_worker;
};

class WhisperRecognitionTask::Workers {
public:
    // Cancels every running worker and waits until all have finished.
    void shutdown();

private:
    friend class WhisperRecognitionTask;
    quint64 started(std::weak_ptr<Worker> worker);
    void finished(quint64 id);

    std::mutex m_mutex;
    std::condition_variable m_allDone;
    std::map<quint64, std::weak_ptr<Worker>> m_running;
    quint64 m_next = 0;
};
