#pragma once

#include <QString>

#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <map>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct ps_decoder_s;
struct cmd_ln_s;

// The files of one pocketsphinx model (acoustic model directory, language
// model, pronunciation dictionary).
struct PocketsphinxModel {
    QString acousticModelDirectory;
    QString languageModelFile;
    QString dictionaryFile;

    // Debian's layout: <root>/en-us/{en-us/, en-us.lm.bin, cmudict-en-us.dict}.
    static std::optional<PocketsphinxModel> forLocale(const QString &modelRoot, const QString &localeIdentifier);
    bool isInstalled() const;
};

// One loaded decoder; not thread-safe, used by one task at a time.
class PocketsphinxDecoder {
public:
    // None when the model cannot be loaded.
    static std::unique_ptr<PocketsphinxDecoder> load(const PocketsphinxModel &model);
    ~PocketsphinxDecoder();
    PocketsphinxDecoder(const PocketsphinxDecoder &) = delete;
    PocketsphinxDecoder &operator=(const PocketsphinxDecoder &) = delete;

    // Starts an utterance from the state of a freshly loaded decoder, so that
    // the same audio always gives the same text, whatever came before.
    bool startUtterance();
    bool process(const int16_t *samples, size_t count);
    bool endUtterance();
    QString hypothesis() const;

private:
    PocketsphinxDecoder() = default;

    cmd_ln_s *m_config = nullptr;
    ps_decoder_s *m_decoder = nullptr;
    std::vector<float> m_initialCepstralMean;
    bool m_inUtterance = false;
};

// Loaded decoders kept for reuse (loading takes most of a second), and the
// bookkeeping that lets the owner wait for every worker before it goes.
class PocketsphinxDecoderPool {
public:
    explicit PocketsphinxDecoderPool(PocketsphinxModel model);

    const PocketsphinxModel &model() const { return m_model; }
    // An idle decoder, else a newly loaded one; none when loading fails.
    std::unique_ptr<PocketsphinxDecoder> acquire();
    void release(std::unique_ptr<PocketsphinxDecoder> decoder);

    // Workers register how to cancel them, so that shutdown() can end them.
    quint64 workerStarted(std::function<void()> cancel);
    void workerFinished(quint64 worker);
    // Cancels every running worker and waits until all have finished.
    void shutdown();

private:
    static constexpr size_t maxIdle = 2;

    PocketsphinxModel m_model;
    std::mutex m_mutex;
    std::condition_variable m_workersDone;
    std::vector<std::unique_ptr<PocketsphinxDecoder>> m_idle;
    std::map<quint64, std::function<void()>> m_workers;
    quint64 m_nextWorker = 0;
};
