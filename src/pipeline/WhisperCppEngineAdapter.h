#pragma once

#include "pipeline/WhisperEngineAdapter.h"
#include "support/MonotonicClock.h"
#include "support/RingBuffer.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class SerialExecutor;
struct whisper_context;

// The local Whisper engine on whisper.cpp: keeps the dictation's samples,
// decodes a short rolling window live at a limited rate, and decodes the whole
// buffer in 30-second chunks on finalize. One operation at a time, on its own
// executor; destruction waits for the running and queued operations.
class WhisperCppEngineAdapter final : public WhisperEngineAdapter {
public:
    static constexpr int liveWindowSamples = 64'000; // 4 s
    static constexpr int maxSessionSamples = 1'440'000; // 90 s
    static constexpr int incrementalStride = 16'000; // new audio between live decodes
    static constexpr int minimumLiveWindowSamples = 20'000;
    static constexpr std::chrono::milliseconds minimumDecodeInterval {1200};
    static constexpr int finalChunkSamples = 480'000; // whisper's 30 s window

    using ProcessorCount = std::function<int()>;

    explicit WhisperCppEngineAdapter(MonotonicClock &clock = MonotonicClock::system(),
                                     ProcessorCount processorCount = activeProcessorCount);
    ~WhisperCppEngineAdapter() override;
    WhisperCppEngineAdapter(const WhisperCppEngineAdapter &) = delete;
    WhisperCppEngineAdapter &operator=(const WhisperCppEngineAdapter &) = delete;

    QFuture<void> loadModel(const QString &modelPath) override;
    QFuture<std::optional<QString>> ingest(const AudioSamples &frames, LanguageOption language) override;
    QFuture<QString> finalize(LanguageOption language) override;

    // whisper.cpp worker threads for a machine with `processors` processors.
    static int threadCount(int processors, bool live);
    static int activeProcessorCount();

private:
    void loadModelNow(const QString &modelPath);
    std::optional<QString> ingestNow(const AudioSamples &frames, LanguageOption language);
    QString finalizeNow(LanguageOption language);
    QString decodeSamples(const std::vector<float> &samples, LanguageOption language, bool live);
    void freeContext();

    MonotonicClock &m_clock;
    ProcessorCount m_processorCount;

    // Touched only on the executor's thread.
    whisper_context *m_context = nullptr;
    RingBuffer<float> m_rolling16k {liveWindowSamples};
    RingBuffer<float> m_fullSession16k {maxSessionSamples};
    std::vector<float> m_scratch;
    QString m_lastPartial;
    int m_sinceLastDecode = 0;
    // Empty until the first live decode of a session, so the first one is never held back.
    std::optional<MonotonicClock::Duration> m_lastDecodeStart;
    bool m_isDecoding = false;
    int m_callbackCount = 0;
    int m_skippedDecodeCount = 0;

    std::unique_ptr<SerialExecutor> m_executor;
};
