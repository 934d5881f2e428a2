#include "WhisperCppEngineAdapter.h"

#include "pipeline/WhisperCppError.h"
#include "pipeline/WhisperModelFile.h"
#include "support/Log.h"
#include "support/SerialExecutor.h"
#include "support/TextUtils.h"

#include <whisper.h>

#include <QFile>

#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>

namespace {
constexpr const char *kTag = "DEBUG-85dc62";

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
} // namespace

WhisperCppEngineAdapter::WhisperCppEngineAdapter(MonotonicClock &clock, ProcessorCount processorCount)
    : m_clock(clock)
    , m_processorCount(std::move(processorCount))
    , m_executor(std::make_unique<SerialExecutor>(QStringLiteral("whisper-engine")))
{
    routeLibraryLogging();
}

WhisperCppEngineAdapter::~WhisperCppEngineAdapter()
{
    // Let the running and queued operations finish before the context goes.
    m_executor.reset();
    freeContext();
}

QFuture<void> WhisperCppEngineAdapter::loadModel(const QString &modelPath)
{
    return m_executor->run([this, modelPath] { loadModelNow(modelPath); });
}

QFuture<std::optional<QString>> WhisperCppEngineAdapter::ingest(const AudioSamples &frames, LanguageOption language)
{
    return m_executor->run([this, frames, language] { return ingestNow(frames, language); });
}

QFuture<QString> WhisperCppEngineAdapter::finalize(LanguageOption language)
{
    return m_executor->run([this, language] { return finalizeNow(language); });
}

int WhisperCppEngineAdapter::threadCount(int processors, bool live)
{
    if (processors < 1)
        return 1;
    return std::min(processors, live ? 2 : 6);
}

int WhisperCppEngineAdapter::activeProcessorCount()
{
    return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
}

void WhisperCppEngineAdapter::freeContext()
{
    if (m_context) {
        whisper_free(m_context);
        m_context = nullptr;
    }
}

void WhisperCppEngineAdapter::loadModelNow(const QString &modelPath)
{
    freeContext();
    m_rolling16k.clear();
    m_fullSession16k.clear();
    m_sinceLastDecode = 0;
    m_lastDecodeStart.reset();
    m_lastPartial.clear();
    m_callbackCount = 0;
    m_skippedDecodeCount = 0;

    const QString problem = WhisperModelFile::problemWith(modelPath);
    if (!problem.isEmpty()) {
        logLine(kTag, QStringLiteral("WhisperCpp.loadModel failed path=%1 reason=%2").arg(modelPath, problem));
        throw WhisperCppError::contextInitFailed();
    }

    whisper_context_params params = whisper_context_default_params();
    params.use_gpu = true;
    m_context = whisper_init_from_file_with_params(QFile::encodeName(modelPath).constData(), params);
    if (!m_context) {
        logLine(kTag, QStringLiteral("WhisperCpp.loadModel failed path=%1 reason=rejected by whisper.cpp").arg(modelPath));
        throw WhisperCppError::contextInitFailed();
    }
    logLine(kTag, QStringLiteral("WhisperCpp.loadModel success path=%1").arg(modelPath));
}

std::optional<QString> WhisperCppEngineAdapter::ingestNow(const AudioSamples &frames, LanguageOption language)
{
    if (!m_context)
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

    if (m_isDecoding) {
        ++m_skippedDecodeCount;
        if (m_skippedDecodeCount == 1 || m_skippedDecodeCount % 20 == 0) {
            logLine(kTag, QStringLiteral("WhisperCpp.skip decode busy skipped=%1 rolling=%2")
                              .arg(m_skippedDecodeCount)
                              .arg(m_rolling16k.size()));
        }
        return std::nullopt;
    }

    m_isDecoding = true;
    m_sinceLastDecode = 0;
    m_lastDecodeStart = now;
    m_rolling16k.copyTo(0, m_rolling16k.size(), m_scratch);
    QString text;
    try {
        text = decodeSamples(m_scratch, language, true);
    } catch (...) {
        m_isDecoding = false;
        throw;
    }
    m_isDecoding = false;
    if (text.isEmpty())
        return std::nullopt;
    m_lastPartial = text;
    logLine(kTag, QStringLiteral("WhisperCpp.partial len=%1 decodeMs=%2 rolling=%3")
                      .arg(TextUtils::graphemeCount(text))
                      .arg(elapsedMilliseconds(now, m_clock.now()))
                      .arg(m_rolling16k.size()));
    return text;
}

QString WhisperCppEngineAdapter::finalizeNow(LanguageOption language)
{
    if (!m_context)
        throw WhisperCppError::notLoaded();
    if (m_fullSession16k.empty())
        return m_lastPartial;

    const MonotonicClock::Duration t0 = m_clock.now();
    const std::size_t total = m_fullSession16k.size();
    if (total <= std::size_t(finalChunkSamples)) {
        m_fullSession16k.copyTo(0, total, m_scratch);
        const QString text = decodeSamples(m_scratch, language, false);
        logLine(kTag, QStringLiteral("WhisperCpp.finalize decodeMs=%1 samples=%2").arg(elapsedMilliseconds(t0, m_clock.now())).arg(total));
        if (!text.isEmpty())
            m_lastPartial = text;
        return m_lastPartial;
    }

    QStringList texts;
    for (std::size_t offset = 0; offset < total; offset += finalChunkSamples) {
        m_fullSession16k.copyTo(offset, std::min<std::size_t>(finalChunkSamples, total - offset), m_scratch);
        const QString text = decodeSamples(m_scratch, language, false);
        if (!text.isEmpty())
            texts.append(text);
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

QString WhisperCppEngineAdapter::decodeSamples(const std::vector<float> &samples, LanguageOption language, bool live)
{
    if (!m_context)
        throw WhisperCppError::notLoaded();

    const QByteArray languageCode = LanguageOptions::code(language).toLatin1();
    whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
    params.n_threads = threadCount(m_processorCount ? m_processorCount() : 1, live);
    params.translate = false;
    params.no_context = true;
    params.no_timestamps = true;
    params.single_segment = live;
    params.print_progress = false;
    params.print_realtime = false;
    params.print_timestamps = false;
    params.language = languageCode.constData();
    params.suppress_blank = true;

    const int ret = whisper_full(m_context, params, samples.data(), static_cast<int>(samples.size()));
    if (ret != 0)
        throw WhisperCppError::inferenceFailed(ret);

    QByteArray text;
    const int segments = whisper_full_n_segments(m_context);
    for (int i = 0; i < segments; ++i) {
        if (const char *segment = whisper_full_get_segment_text(m_context, i))
            text += segment;
    }
    return TextUtils::trimmed(QString::fromUtf8(text));
}
