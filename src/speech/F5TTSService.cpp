#include "F5TTSService.h"

#include "models/ModelManager.h"
#include "platform/Platform.h"
#include "models/FileDownload.h"
#include "support/DescribedError.h"
#include "support/FutureWatch.h"
#include "support/Log.h"
#include "support/SharedInstance.h"

#include <QDir>
#include <QFile>
#include <QPointer>

namespace {
const char *const kTag = "F5TTS";

} // namespace

F5TTSService::Sources F5TTSService::Sources::under(const QUrl &host)
{
    const QString base = host.toString(QUrl::StripTrailingSlash) + QLatin1Char('/');
    return {QUrl(base + QStringLiteral("charactr/vocos-mel-24khz/resolve/main/pytorch_model.bin")),
            QUrl(base + QStringLiteral("SWivid/F5-TTS/resolve/main/F5TTS_Base/model_1200000.safetensors"))};
}

F5TTSService::Sources F5TTSService::Sources::defaults()
{
    return under(QUrl(QStringLiteral("https://huggingface.co")));
}

F5TTSService::F5TTSService(const QString &voicePackDirectory, Sources sources, QObject *parent)
    : QObject(parent)
    , m_directory(voicePackDirectory)
    , m_sources(std::move(sources))
{
    QDir().mkpath(m_directory);
    refreshDownloadState();
}

F5TTSService::~F5TTSService()
{
    SharedInstance<F5TTSService>::release(this);
}

F5TTSService &F5TTSService::shared()
{
    if (F5TTSService *installed = SharedInstance<F5TTSService>::installed())
        return *installed;
    const QString models = ModelManager(Platform::instance().paths()).modelsDirectory();
    static F5TTSService service(QDir(models).filePath(QStringLiteral("F5TTS")));
    return service;
}

void F5TTSService::setShared(F5TTSService *service)
{
    SharedInstance<F5TTSService>::install(service);
}

QString F5TTSService::vocoderFileURL() const
{
    return QDir(m_directory).filePath(vocoderFileName);
}

QString F5TTSService::modelFileURL() const
{
    return QDir(m_directory).filePath(modelFileName);
}

void F5TTSService::refreshDownloadState()
{
    setIsDownloaded(QFile::exists(modelFileURL()) && QFile::exists(vocoderFileURL()));
}

QFuture<void> F5TTSService::downloadFile(const QUrl &source, const QString &destination, double weight)
{
    const double base = m_downloadProgress;
    const QPointer<F5TTSService> self(this);
    // the vocoder is a PyTorch zip of some 50 MB, the model safetensors of some 1.3 GB
    const DownloadAcceptance acceptance = destination == vocoderFileURL()
                                              ? DownloadAcceptance(DownloadAcceptance::Format::zip, 256'000'000)
                                              : DownloadAcceptance(DownloadAcceptance::Format::safetensors,
                                                                   4'000'000'000);
    return FileDownload::fetch(m_network, source, destination, acceptance, [self, base, weight](double fraction) {
        if (self)
            self->setDownloadProgress(base + weight * fraction);
    }, this);
}

QFuture<void> F5TTSService::downloadVoicePack()
{
    if (m_isDownloading)
        return QtFuture::makeReadyFuture();
    setIsDownloading(true);
    setDownloadProgress(0);
    auto done = Futures::startedPromise<void>();
    downloadFile(m_sources.vocoder, vocoderFileURL(), vocoderWeight)
        .then(this, [this] { return downloadFile(m_sources.model, modelFileURL(), modelWeight); })
        .unwrap()
        .then(this, [this, done] {
            setIsDownloading(false);
            refreshDownloadState();
            logLine(kTag, "HD Voice Pack installed");
            done->finish();
        })
        .onFailed(this, [this, done] {
            setIsDownloading(false);
            QFile::remove(modelFileURL());
            QFile::remove(vocoderFileURL());
            logLine(kTag, QStringLiteral("Download failed: %1").arg(describeException(std::current_exception())));
            done->finish();
        });
    return done->future();
}

void F5TTSService::setIsDownloaded(bool value)
{
    if (m_isDownloaded == value)
        return;
    m_isDownloaded = value;
    emit isDownloadedChanged();
}

void F5TTSService::setIsDownloading(bool value)
{
    if (m_isDownloading == value)
        return;
    m_isDownloading = value;
    emit isDownloadingChanged();
}

void F5TTSService::setDownloadProgress(double value)
{
    if (m_downloadProgress == value)
        return;
    m_downloadProgress = value;
    emit downloadProgressChanged();
}
