#include "WhisperCppEngineAdapter.h"

#include "pipeline/WhisperCppError.h"
#include "pipeline/WhisperModelFile.h"
#include "support/Log.h"
#include "support/SerialExecutor.h"
#include "support/TextUtils.h"
#include "support/UsableProcessors.h"

#include <whisper.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPromise>

#include <algorithm>
#include <mutex>
#include <new>
#include <string>

namespace {
constexpr const char *kTag = "DEBUG-85dc62";
// Audio samples per encoder position: a 10 ms mel hop, halved by the encoder's convolution.
constexpr std::size_t kSamplesPerAudioPosition = 320;
constexpr int kFullAudioContext = WhisperCppEngineAdapter::finalChunkSamples / int(kSamplesPerAudioPosition);
// Fitted contexts are rounded up to this many positions.
constexpr int kAudioContextStep = 64;

// whisper.cpp and ggml write their progress in pieces; collect each line and
// pass it on at debug level.
void forwardLibraryLog(ggml_log_level level, const char *text, void *)
{
    thread_local std::string pending;
    if (level != GGML_LOG_LEVEL_CONT && !pending.empty()) {
        logDebugLine(kTag, QStringLiteral("whisper.cpp: %1").arg(QString::fromUtf8(pending)));
        pending.clear();
    }
    if (text)
        pending += text;
    std::size_t newline;
    while ((newline = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, newline);
        pending.erase(0, newline + 1);
        if (!line.empty())
            logDebugLine(kTag, QStringLiteral("whisper.cpp: %1").arg(QString::fromUtf8(line)));
    }
}

void routeLibraryLogging()
{
    static std::once_flag once;
    std::call_once(once, [] { whisper_log_set(forwardLibraryLog, nullptr); });
}

long long elapsedMilliseconds(MonotonicClock::Duration from, MonotonicClock::Duration to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

void append(RingBuffer<float> &ring, const AudioSamples &frames)
{
    ring.append(frames.constData(), static_cast<std::size_t>(frames.size()));
}

// The same identity means the same bytes, so a loaded model can stand in for the file.
QString fileIdentity(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("%1|missing").arg(info.absoluteFilePath());
    return QStringLiteral("%1|%2|%3")
        .arg(info.absoluteFilePath())
        .arg(info.size())
        .arg(info.lastModified().toMSecsSinceEpoch());
}

// The state's buffers are sized by the model: not getting them fails this
// load, not the process.
whisper_state *newState(whisper_context *context)
{
    try {
        return whisper_init_state(context);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

bool callAbortCheck(void *check)
{
    return (*static_cast<const WhisperCppEngineAdapter::AbortCheck *>(check))();
}
} // namespace

class WhisperCppEngineAdapter::Model {
public:
    Model(whisper_context *context, QString identity)
        : context(context)
        , identity(std::move(identity))
    {
    }
    ~Model() { whisper_free(context); }
    Model(const Model &) = delete;
    Model &operator=(const Model &) = delete;

    whisper_context *const context; // weights only: every user brings its own state
    const QString identity;
};

WhisperCppEngineAdapter::ModelCache::ModelCache(WhisperModelFamily family)
    : m_family(std::move(family))
{
}

WhisperCppEngineAdapter::ModelCache &WhisperCppEngineAdapter::ModelCache::shared()
{
    static ModelCache cache;
    return cache;
}

std::shared_ptr<WhisperCppEngineAdapter::Model> WhisperCppEngineAdapter::ModelCache::load(const QString &path)
{
    routeLibraryLogging();
    std::lock_guard loading(m_loading);
    const QString identity = fileIdentity(path);
    {
        std::lock_guard lock(m_mutex);
        if (const auto found = m_loaded.find(identity); found != m_loaded.end()) {
            if (std::shared_ptr<Model> model = found->second.lock()) {
                m_lastLoaded = model;
                logLine(kTag, QStringLiteral("WhisperCpp.loadModel reusing the loaded model path=%1").arg(path));
                return model;
            }
        }
    }
    // Another file replaces the one kept warm: let it go before the new one arrives.
    std::shared_ptr<Model> previous;
    {
        std::lock_guard lock(m_mutex);
        previous = std::exchange(m_lastLoaded, nullptr);
        std::erase_if(m_loaded, [](const auto &entry) { return entry.second.expired(); });
    }
    previous.reset();

    const auto failed = [&](const QString &reason) {
        logLine(kTag, QStringLiteral("WhisperCpp.loadModel failed path=%1 reason=%2").arg(path, reason));
        std::lock_guard lock(m_mutex);
        m_failed.insert(identity);
        return WhisperCppError::contextInitFailed();
    };
    const QString problem = WhisperModelFile::problemWith(path, m_family);
    if (!problem.isEmpty())
        throw failed(problem);
    whisper_context_params params = whisper_context_default_params();
    params.use_gpu = true;
    whisper_context *context = whisper_init_from_file_with_params_no_state(QFile::encodeName(path).constData(), params);
    if (!context)
        throw failed(QStringLiteral("rejected by whisper.cpp"));
    auto model = std::make_shared<Model>(context, identity);
    {
        std::lock_guard lock(m_mutex);
        m_loaded[identity] = model;
        m_lastLoaded = model;
    }
    logLine(kTag, QStringLiteral("WhisperCpp.loadModel success path=%1").arg(path));
    return model;
}

bool WhisperCppEngineAdapter::ModelCache::failedToLoad(const QString &path) const
{
    std::lock_guard lock(m_mutex);
    return m_failed.count(fileIdentity(path)) > 0;
}

WhisperCppEngineAdapter::Decoder::Decoder(std::shared_ptr<Model> model, ProcessorCount processorCount)
    : m_model(std::move(model))
    , m_processorCount(std::move(processorCount))
    , m_state(newState(m_model->context))
{
    if (!m_state)
        throw WhisperCppError::contextInitFailed();
}

WhisperCppEngineAdapter::Decoder::~Decoder()
{
    whisper_free_state(m_state);
}

std::optional<QString> WhisperCppEngineAdapter::Decoder::decode(const std::vector<float> &samples,
                                                                LanguageOption language, DecodePass pass,
                                                                const AbortCheck &shouldAbort)
{
    const QByteArray languageCode = LanguageOptions::code(language).toLatin1();
    whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
    params.n_threads = threadCount(m_processorCount ? m_processorCount() : 1, pass == DecodePass::live);
    params.translate = false;
    params.no_context = true;
    params.no_timestamps = true;
    params.single_segment = pass != DecodePass::whole;
    params.print_progress = false;
    params.print_realtime = false;
    params.print_timestamps = false;
    params.language = languageCode.constData();
    params.suppress_blank = true;
    // A full 30 s encoder pass for a few seconds of audio cannot keep pace on a CPU.
    if (pass != DecodePass::whole)
        params.audio_ctx = fittedAudioContext(samples.size());
    if (m_tokenLimit > 0) {
        params.max_tokens = m_tokenLimit;
        params.temperature_inc = 0.0f;
    }
    if (shouldAbort) {
        params.abort_callback = callAbortCheck;
        params.abort_callback_user_data = const_cast<AbortCheck *>(&shouldAbort);
    }

    const int ret = whisper_full_with_state(m_model->context, m_state, params, samples.data(), static_cast<int>(samples.size()));
    if (ret != 0) {
        if (shouldAbort && shouldAbort())
            return std::nullopt;
        throw WhisperCppError::inferenceFailed(ret);
    }
    if (shouldAbort && shouldAbort())
        return std::nullopt; // stopped between the last check and the end: the text may be cut short

    QByteArray text;
    const int segments = whisper_full_n_segments_from_state(m_state);
    for (int i = 0; i < segments; ++i) {
        if (const char *segment = whisper_full_get_segment_text_from_state(m_state, i))
            text += segment;
    }
    return TextUtils::trimmed(QString::fromUtf8(text));
}

// Like SerialExecutor::run, but the job can tell when its future was
// cancelled or the adapter is going away.
template <typename Fn>
auto WhisperCppEngineAdapter::submit(Fn fn)
{
    using T = std::invoke_result_t<Fn, const AbortCheck &>;
    auto promise = std::make_shared<QPromise<T>>();
    promise->start();
    QFuture<T> future = promise->future();
    m_executor->post([this, promise, fn = std::move(fn)]() mutable {
        const AbortCheck aborted = [this, promise] { return m_shuttingDown.load() || promise->isCanceled(); };
        try {
            if constexpr (std::is_void_v<T>)
                fn(aborted);
            else
                promise->addResult(fn(aborted));
        } catch (...) {
            promise->setException(std::current_exception());
        }
        // Work cut short by the adapter going away is not a result.
        if (m_shuttingDown)
            promise->future().cancel();
        promise->finish();
    });
    return future;
}

WhisperCppEngineAdapter::WhisperCppEngineAdapter(MonotonicClock &clock, ProcessorCount processorCount, ModelCache &models)
    : m_clock(clock)
    , m_processorCount(std::move(processorCount))
    , m_models(models)
    , m_executor(std::make_unique<SerialExecutor>(QStringLiteral("whisper-engine")))
{
    routeLibraryLogging();
}

WhisperCppEngineAdapter::~WhisperCppEngineAdapter()
{
    // Stop the running decode, let the queued operations finish, then free the state.
    m_shuttingDown = true;
    m_executor.reset();
    m_decoder.reset();
}

QFuture<void> WhisperCppEngineAdapter::loadModel(const QString &modelPath)
{
    return submit([this, modelPath](const AbortCheck &) { loadModelNow(modelPath); });
}

QFuture<std::optional<QString>> WhisperCppEngineAdapter::ingest(const AudioSamples &frames, LanguageOption language)
{
    ++m_queuedIngests;
    return submit([this, frames, language](const AbortCheck &aborted) { return ingestNow(frames, language, aborted); });
}

QFuture<QString> WhisperCppEngineAdapter::finalize(LanguageOption language)
{
    ++m_waitingFinalizes;
    return submit([this, language](const AbortCheck &aborted) {
        --m_waitingFinalizes;
        return finalizeNow(language, aborted);
    });
}

int WhisperCppEngineAdapter::threadCount(int processors, bool live)
{
    if (processors < 1)
        return 1;
    return std::min(processors, live ? 2 : 6);
}

int WhisperCppEngineAdapter::activeProcessorCount()
{
    return UsableProcessors::count();
}

int WhisperCppEngineAdapter::fittedAudioContext(std::size_t samples)
{
    const int positions = int((samples + kSamplesPerAudioPosition - 1) / kSamplesPerAudioPosition);
    const int rounded = (positions + kAudioContextStep - 1) / kAudioContextStep * kAudioContextStep;
    return rounded >= kFullAudioContext ? 0 : std::max(rounded, kAudioContextStep);
}

void WhisperCppEngineAdapter::loadModelNow(const QString &modelPath)
{
    m_decoder.reset();
    m_rolling16k.clear();
    m_fullSession16k.clear();
    m_sinceLastDecode = 0;
    m_lastDecodeStart.reset();
    m_lastPartial.clear();
    m_callbackCount = 0;
    m_skippedDecodeCount = 0;
    // A fresh decoding state per session, so a session's text does not depend on the one before.
    m_decoder = std::make_unique<Decoder>(m_models.load(modelPath), m_processorCount);
}

std::optional<QString> WhisperCppEngineAdapter::ingestNow(const AudioSamples &frames, LanguageOption language,
                                                          const AbortCheck &aborted)
{
    const bool newest = --m_queuedIngests == 0;
    if (!m_decoder)
        throw WhisperCppError::notLoaded();

    ++m_callbackCount;
    append(m_rolling16k, frames);
    append(m_fullSession16k, frames);
    m_sinceLastDecode = static_cast<int>(std::min<qsizetype>(qsizetype(m_sinceLastDecode) + frames.size(), maxSessionSamples));

    if (m_callbackCount == 1 || m_callbackCount % 25 == 0) {
        logLine(kTag, QStringLiteral("WhisperCpp.ingest cb=%1 frameCount=%2 rolling=%3 sinceLastDecode=%4")
                          .arg(m_callbackCount)
                          .arg(frames.size())
                          .arg(m_rolling16k.size())
                          .arg(m_sinceLastDecode));
    }

    const MonotonicClock::Duration now = m_clock.now();
    const bool due = m_rolling16k.size() >= std::size_t(minimumLiveWindowSamples) && m_sinceLastDecode >= incrementalStride
        && (!m_lastDecodeStart || now - *m_lastDecodeStart >= minimumDecodeInterval);
    if (!due)
        return std::nullopt;

    // Newer audio waits behind this batch (a decode ran long): the newest batch decodes for all.
    if (!newest || m_waitingFinalizes > 0) {
        ++m_skippedDecodeCount;
        if (m_skippedDecodeCount == 1 || m_skippedDecodeCount % 20 == 0) {
            logLine(kTag, QStringLiteral("WhisperCpp.skip decode busy skipped=%1 rolling=%2")
                              .arg(m_skippedDecodeCount)
                              .arg(m_rolling16k.size()));
        }
        return std::nullopt;
    }

    m_sinceLastDecode = 0;
    m_lastDecodeStart = now;
    m_rolling16k.copyTo(0, m_rolling16k.size(), m_scratch);
    // A finalize asked for meanwhile wants the engine more than this window does.
    const std::optional<QString> text = decodeSamples(m_scratch, language, DecodePass::live,
                                                      [&] { return aborted() || m_waitingFinalizes > 0; });
    if (!text || text->isEmpty())
        return std::nullopt;
    m_lastPartial = *text;
    logLine(kTag, QStringLiteral("WhisperCpp.partial len=%1 decodeMs=%2 rolling=%3")
                      .arg(TextUtils::graphemeCount(*text))
                      .arg(elapsedMilliseconds(now, m_clock.now()))
                      .arg(m_rolling16k.size()));
    return text;
}

QString WhisperCppEngineAdapter::finalizeNow(LanguageOption language, const AbortCheck &aborted)
{
    if (!m_decoder)
        throw WhisperCppError::notLoaded();
    if (m_fullSession16k.empty())
        return m_lastPartial;

    const MonotonicClock::Duration t0 = m_clock.now();
    const std::size_t total = m_fullSession16k.size();
    if (total <= std::size_t(finalChunkSamples)) {
        m_fullSession16k.copyTo(0, total, m_scratch);
        const std::optional<QString> text = decodeSamples(m_scratch, language, DecodePass::whole, aborted);
        logLine(kTag, QStringLiteral("WhisperCpp.finalize decodeMs=%1 samples=%2").arg(elapsedMilliseconds(t0, m_clock.now())).arg(total));
        if (text && !text->isEmpty())
            m_lastPartial = *text;
        return m_lastPartial;
    }

    QStringList texts;
    for (std::size_t offset = 0; offset < total; offset += finalChunkSamples) {
        m_fullSession16k.copyTo(offset, std::min<std::size_t>(finalChunkSamples, total - offset), m_scratch);
        const std::optional<QString> text = decodeSamples(m_scratch, language, DecodePass::whole, aborted);
        if (!text)
            return m_lastPartial; // stopped: nobody waits for the rest
        if (!text->isEmpty())
            texts.append(*text);
        logLine(kTag, QStringLiteral("WhisperCpp.finalize chunk offset=%1/%2 decodeMs=%3")
                          .arg(offset)
                          .arg(total)
                          .arg(elapsedMilliseconds(t0, m_clock.now())));
    }
    const QString joined = texts.join(QLatin1Char(' '));
    if (!joined.isEmpty())
        m_lastPartial = joined;
    return m_lastPartial;
}

std::optional<QString> WhisperCppEngineAdapter::decodeSamples(const std::vector<float> &samples, LanguageOption language,
                                                              DecodePass pass, const AbortCheck &aborted)
{
    if (!m_decoder)
        throw WhisperCppError::notLoaded();
    return m_decoder->decode(samples, language, pass, aborted);
}
