#include "PocketsphinxDecoder.h"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>

#include <QDir>
#include <QFileInfo>

#include <mutex>

namespace {
void silenceLibraryLog()
{
    // The library logs every configuration value to stderr; failures are
    // reported through return codes instead.
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}
} // namespace

std::optional<PocketsphinxModel> PocketsphinxModel::forLocale(const QString &modelRoot, const QString &localeIdentifier)
{
    if (localeIdentifier != QLatin1String("en-US"))
        return std::nullopt;
    const QDir dir(QDir(modelRoot).filePath(QStringLiteral("en-us")));
    return PocketsphinxModel { dir.filePath(QStringLiteral("en-us")), dir.filePath(QStringLiteral("en-us.lm.bin")),
                               dir.filePath(QStringLiteral("cmudict-en-us.dict")) };
}

bool PocketsphinxModel::isInstalled() const
{
    return QFileInfo(acousticModelDirectory).isDir() && QFileInfo(languageModelFile).isFile()
        && QFileInfo(dictionaryFile).isFile();
}

std::unique_ptr<PocketsphinxDecoder> PocketsphinxDecoder::load(const PocketsphinxModel &model)
{
    silenceLibraryLog();
    const QByteArray hmm = QFile::encodeName(model.acousticModelDirectory);
    const QByteArray lm = QFile::encodeName(model.languageModelFile);
    const QByteArray dict = QFile::encodeName(model.dictionaryFile);
    std::unique_ptr<PocketsphinxDecoder> decoder(new PocketsphinxDecoder);
    // The two limits bound the active search so that decoding stays well
    // ahead of live audio. The second passes over the whole utterance are off:
    // they would hold the final result back by about a twentieth of the
    // utterance's length after the end of audio, longer than a stop waits.
    decoder->m_config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(), "-dict",
                                    dict.constData(), "-samprate", "16000", "-maxhmmpf", "3000", "-maxwpf", "10",
                                    "-fwdflat", "no", "-bestpath", "no", nullptr);
    if (!decoder->m_config)
        return nullptr;
    decoder->m_decoder = ps_init(decoder->m_config);
    if (!decoder->m_decoder)
        return nullptr;
    feat_t *feat = ps_get_feat(decoder->m_decoder);
    if (feat && feat->cmn_struct) {
        decoder->m_initialCepstralMean.resize(size_t(feat->cmn_struct->veclen));
        cmn_live_get(feat->cmn_struct, decoder->m_initialCepstralMean.data());
    }
    return decoder;
}

PocketsphinxDecoder::~PocketsphinxDecoder()
{
    if (m_decoder) {
        if (m_inUtterance)
            ps_end_utt(m_decoder);
        ps_free(m_decoder);
    }
    if (m_config)
        cmd_ln_free_r(m_config);
}

bool PocketsphinxDecoder::startUtterance()
{
    if (m_inUtterance)
        endUtterance();
    // Everything that adapts to the audio starts over: the channel estimate,
    // and the front end's noise and voice-activity estimates (a new stream).
    feat_t *feat = ps_get_feat(m_decoder);
    if (feat && feat->cmn_struct && !m_initialCepstralMean.empty())
        cmn_live_set(feat->cmn_struct, m_initialCepstralMean.data());
    m_inUtterance = ps_start_stream(m_decoder) >= 0 && ps_start_utt(m_decoder) >= 0;
    return m_inUtterance;
}

bool PocketsphinxDecoder::process(const int16_t *samples, size_t count)
{
    return ps_process_raw(m_decoder, samples, count, FALSE, FALSE) >= 0;
}

bool PocketsphinxDecoder::endUtterance()
{
    m_inUtterance = false;
    return ps_end_utt(m_decoder) >= 0;
}

QString PocketsphinxDecoder::hypothesis() const
{
    int32 score = 0;
    const char *text = ps_get_hyp(m_decoder, &score);
    return text ? QString::fromUtf8(text).trimmed() : QString();
}

PocketsphinxDecoderPool::PocketsphinxDecoderPool(PocketsphinxModel model)
    : m_model(std::move(model))
{
}

std::unique_ptr<PocketsphinxDecoder> PocketsphinxDecoderPool::acquire()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            auto decoder = std::move(m_idle.back());
            m_idle.pop_back();
            return decoder;
        }
    }
    return PocketsphinxDecoder::load(m_model);
}

void PocketsphinxDecoderPool::release(std::unique_ptr<PocketsphinxDecoder> decoder)
{
    if (!decoder)
        return;
    std::lock_guard lock(m_mutex);
    if (m_idle.size() < maxIdle)
        m_idle.push_back(std::move(decoder));
}

quint64 PocketsphinxDecoderPool::workerStarted(std::function<void()> cancel)
{
    std::lock_guard lock(m_mutex);
    const quint64 id = m_nextWorker++;
    m_workers.emplace(id, std::move(cancel));
    return id;
}

void PocketsphinxDecoderPool::workerFinished(quint64 worker)
{
    {
        std::lock_guard lock(m_mutex);
        m_workers.erase(worker);
    }
    m_workersDone.notify_all();
}

void PocketsphinxDecoderPool::shutdown()
{
    std::vector<std::function<void()>> cancels;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[id, cancel] : m_workers)
            cancels.push_back(cancel);
    }
    for (const auto &cancel : cancels)
        cancel();
    std::unique_lock lock(m_mutex);
    m_workersDone.wait(lock, [this] { return m_workers.empty(); });
    m_idle.clear();
}
