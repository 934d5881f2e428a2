#pragma once

#include "pipeline/WhisperEngineAdapter.h"
#include "pipeline/WhisperModelFamily.h"
#include "support/MonotonicClock.h"
#include "support/RingBuffer.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

class SerialExecutor;
struct whisper_state;

// The local Whisper engine on whisper.cpp: keeps the dictation's samples,
// decodes a short rolling window live at a limited rate, and decodes the whole
// buffer in 30-second chunks on finalize. One operation at a time, on its own
// executor; destruction stops a running decode and waits for the queued
// operations. Every whisper.cpp call of the application is in this class and
// its two helpers below, which the live recogniser uses as well.
class WhisperCppEngineAdapter final : public WhisperEngineAdapter {
public:
    static constexpr int liveWindowSamples = 64'000; // 4 s
    static constexpr int maxSessionSamples = 1'440'000; // 90 s
    static constexpr int incrementalStride = 16'000; // new audio between live decodes
    static constexpr int minimumLiveWindowSamples = 20'000;
    static constexpr std::chrono::milliseconds minimumDecodeInterval {1200};
    static constexpr int finalChunkSamples = 480'000; // whisper's 30 s window

    using ProcessorCount = std::function<int()>;
    // Polled while a decode runs; true stops it.
    using AbortCheck = std::function<bool()>;

    // What a decode is for; it sets the thread count and how much of the
    // encoder's 30 s context runs.
    enum class DecodePass {
        live, // a live window: live threads, one segment, context fitted to the audio
        closing, // the last piece of a live transcript, which a stop waits for: final threads, fitted context
        whole, // up to 30 s of a whole recording: final threads, full context
    };

    class Model;
    // Loaded models by file. A file loaded again unchanged (same path, size and
    // modification time) while it is in use, or after it was the last one
    // loaded, is not read again. Only files of the family's shapes are
    // loaded. Thread-safe.
    class ModelCache {
    public:
        // The published models' shapes; tests decode on tiny models of their own.
        explicit ModelCache(WhisperModelFamily family = WhisperModelFamily::published());
        static ModelCache &shared();

        // Fails with WhisperCppError::contextInitFailed.
        std::shared_ptr<Model> load(const QString &path);
        // The file, as it is now, failed to load before.
        bool failedToLoad(const QString &path) const;

    private:
        const WhisperModelFamily m_family;
        std::mutex m_loading; // one load at a time, so a file is never read twice at once
        mutable std::mutex m_mutex; // the tables below, held only briefly
        std::map<QString, std::weak_ptr<Model>> m_loaded; // by file identity
        std::shared_ptr<Model> m_lastLoaded;
        std::set<QString> m_failed;
    };

    // A decoding state of its own over a shared model; one decode at a time.
    class Decoder {
    public:
        // Fails with WhisperCppError::contextInitFailed.
        Decoder(std::shared_ptr<Model> model, ProcessorCount processorCount);
        ~Decoder();
        Decoder(const Decoder &) = delete;
        Decoder &operator=(const Decoder &) = delete;

        // The trimmed text; none when shouldAbort stopped the run. Fails with
        // WhisperCppError::inferenceFailed.
        std::optional<QString> decode(const std::vector<float> &samples, LanguageOption language, DecodePass pass,
                                      const AbortCheck &shouldAbort = {});
        // Benchmarks only: random weights never stop talking, so bound each
        // run's tokens and skip the temperature fallback (0 = library default).
        void setTokenLimit(int maxTokens) { m_tokenLimit = maxTokens; }

    private:
        std::shared_ptr<Model> m_model;
        ProcessorCount m_processorCount;
        whisper_state *m_state = nullptr;
        int m_tokenLimit = 0;
    };

    explicit WhisperCppEngineAdapter(MonotonicClock &clock = MonotonicClock::system(),
                                     ProcessorCount processorCount = activeProcessorCount,
                                     ModelCache &models = ModelCache::shared());
    ~WhisperCppEngineAdapter() override;
    WhisperCppEngineAdapter(const WhisperCppEngineAdapter &) = delete;
    WhisperCppEngineAdapter &operator=(const WhisperCppEngineAdapter &) = delete;

    QFuture<void> loadModel(const QString &modelPath) override;
    // While a live decode runs, later batches only join the buffers; of the
    // batches queued behind it only the newest may decode, so live decodes
    // never pile up. A waiting finalize stops a running live decode.
    QFuture<std::optional<QString>> ingest(const AudioSamples &frames, LanguageOption language) override;
    // Cancelling the returned future stops the running decode.
    QFuture<QString> finalize(LanguageOption language) override;

    // whisper.cpp worker threads for a machine with `processors` processors.
    static int threadCount(int processors, bool live);
    // The processors this process may use (affinity and cgroup quota).
    static int activeProcessorCount();
    // Encoder positions for a window of `samples`, rounded up; 0 (the full
    // 30 s context) when the window needs all of it.
    static int fittedAudioContext(std::size_t samples);

private:
    template <typename Fn>
    auto submit(Fn fn);

    void loadModelNow(const QString &modelPath);
    std::optional<QString> ingestNow(const AudioSamples &frames, LanguageOption language, const AbortCheck &aborted);
    QString finalizeNow(LanguageOption language, const AbortCheck &aborted);
    std::optional<QString> decodeSamples(const std::vector<float> &samples, LanguageOption language, DecodePass pass,
                                         const AbortCheck &aborted);

    MonotonicClock &m_clock;
    ProcessorCount m_processorCount;
    ModelCache &m_models;

    // Touched only on the executor's thread.
    std::unique_ptr<Decoder> m_decoder;
    RingBuffer<float> m_rolling16k {liveWindowSamples};
    RingBuffer<float> m_fullSession16k {maxSessionSamples};
    std::vector<float> m_scratch;
    QString m_lastPartial;
    int m_sinceLastDecode = 0;
    // Empty until the first live decode of a session, so the first one is never held back.
    std::optional<MonotonicClock::Duration> m_lastDecodeStart;
    int m_callbackCount = 0;
    int m_skippedDecodeCount = 0;

    // Counted on the caller's side, so a running job sees what waits behind it.
    std::atomic<int> m_queuedIngests {0};
    std::atomic<int> m_waitingFinalizes {0};
    std::atomic<bool> m_shuttingDown {false};

    std::unique_ptr<SerialExecutor> m_executor;
};
