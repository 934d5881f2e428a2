#include "CoreMLEncoderDownloader.h"

#include "models/CoreMLEncoderError.h"
#include "models/DownloadAcceptance.h"
#include "models/EncoderArchive.h"
#include "models/FileDownload.h"
#include "models/ModelDescriptor.h"
#include "models/ModelManager.h"
#include "support/FreeSpace.h"
#include "support/FutureWatch.h"
#include "support/Log.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

namespace {

bool containsSymlink(const QString &directory)
{
    QDirIterator it(directory, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (it.nextFileInfo().isSymLink())
            return true;
    }
    return false;
}

void log(const QString &message)
{
    logLine("CoreML", message);
}

// What the next launch would meet again: no room, an archive refused. A
// transfer that broke off or a server's error may pass by then.
bool isLasting(const std::exception &error)
{
    if (dynamic_cast<const OperationCancelled *>(&error))
        return false;
    if (const auto *download = dynamic_cast<const FileDownloadError *>(&error))
        return download->isNoRoom();
    if (const auto *encoder = dynamic_cast<const CoreMLEncoderError *>(&error))
        return encoder->code() == CoreMLEncoderError::unzipFailed().code();
    // refused or failed while unpacking or moving into place
    return dynamic_cast<const DescribedError *>(&error) != nullptr;
}

// One archive on its way from the server into the models directory: download,
// unpack into a staging directory, move into place. Every failure removes
// what was staged, so a half-unpacked encoder never counts as present.
class Installation : public std::enable_shared_from_this<Installation> {
public:
    Installation(QObject *context, const QString &directory, const QString &encoderName,
                 const CoreMLEncoderDownloader::Limits &limits, const FreeSpace &freeSpace)
        : m_context(context)
        , m_directory(directory)
        , m_encoderName(encoderName)
        , m_zipPath(QDir(directory).filePath(encoderName + QStringLiteral(".zip")))
        , m_limits(limits)
        , m_freeSpace(freeSpace)
    {
    }

    QFuture<void> start(QNetworkAccessManager &network, const QUrl &url, SerialExecutor &unpacker,
                        Futures::FollowedFutures &followed, std::shared_ptr<std::atomic<bool>> stopping)
    {
        // leftovers of a run that was killed half-way
        QFile::remove(m_zipPath);
        const QDir dir(m_directory);
        for (const QString &stale : dir.entryList({stagingPrefix() + QLatin1Char('*')}, QDir::Dirs | QDir::Hidden))
            QDir(dir.filePath(stale)).removeRecursively();
        auto self = shared_from_this();
        const DownloadAcceptance acceptance(DownloadAcceptance::Format::zip, m_limits.archiveBytes);
        // Both must fit before a byte is fetched, or every launch would fetch
        // an archive only to throw it away. An archive never unpacks to less
        // than itself: what deflate cannot shrink it stores, and every file
        // takes whole blocks.
        const auto checkRoom = [freeSpace = &m_freeSpace, directory = m_directory](qint64 total) {
            return freeSpace->checkRoom(QStringLiteral("the encoder with its archive"), 2 * total, 0, directory, true);
        };
        // A cancelled step is a failure too: it must not pass as installed.
        return Futures::cancellationAsFailure(
                   Futures::cancellationAsFailure(FileDownload::fetch(network, url, m_zipPath, acceptance, {}, m_context,
                                                                      DownloadAcceptance::idleTimeout, checkRoom))
                       .onFailed(m_context,
                                 [](const FileDownloadError &error) {
                                     if (error.status() != 0)
                                         throw CoreMLEncoderError::httpError();
                                     throw error;
                                 })
                       .then(m_context,
                             [self, &unpacker, &followed, stopping] {
                                 // the owner's teardown ends the transfer: its
                                 // members may be going
                                 if (*stopping)
                                     throw OperationCancelled();
                                 return followed.follow(self->unpack(unpacker, stopping));
                             })
                       .unwrap()
                       .then(m_context, [self] { self->install(); }))
            .onFailed(m_context, [self] {
                self->cleanUp();
                throw;
            });
    }

private:
    QString stagingPrefix() const { return QStringLiteral(".") + m_encoderName + QStringLiteral("-staging-"); }

    QFuture<void> unpack(SerialExecutor &unpacker, std::shared_ptr<std::atomic<bool>> stopping)
    {
        // where free space cannot be read, the caps alone apply
        const EncoderArchive::Bounds bounds{m_limits.unpackedBytes, m_limits.unpackedEntries,
                                            m_freeSpace.figuresAt(m_directory), QFileInfo(m_zipPath).size()};
        m_staging = std::make_unique<QTemporaryDir>(QDir(m_directory).filePath(stagingPrefix() + QStringLiteral("XXXXXX")));
        if (!m_staging->isValid())
            throw DescribedError(QStringLiteral("Could not create a staging directory: %1").arg(m_staging->errorString()));
        // megabytes to inflate: never on the main thread
        return unpacker.run([zip = m_zipPath, staging = m_staging->path(), name = m_encoderName, bounds, stopping] {
            EncoderArchive::unpack(zip, staging, name, bounds, *stopping);
        });
    }

    void install()
    {
        QFile::remove(m_zipPath);
        const QString staged = QDir(m_staging->path()).filePath(m_encoderName);
        const QFileInfo stagedInfo(staged);
        if (!stagedInfo.isDir() || stagedInfo.isSymLink() || containsSymlink(staged))
            throw CoreMLEncoderError::unzipFailed();
        // appears whole under its final name, or not at all
        if (!QDir().rename(staged, QDir(m_directory).filePath(m_encoderName)))
            throw DescribedError(QStringLiteral("Could not move the encoder into %1.").arg(m_directory));
        m_staging.reset();
    }

    void cleanUp()
    {
        QFile::remove(m_zipPath);
        m_staging.reset();
    }

    QObject *m_context;
    QString m_directory;
    QString m_encoderName;
    QString m_zipPath;
    CoreMLEncoderDownloader::Limits m_limits;
    const FreeSpace &m_freeSpace;
    std::unique_ptr<QTemporaryDir> m_staging;
};

} // namespace

const QList<CoreMLEncoderDownloader::Encoder> &CoreMLEncoderDownloader::defaultEncoders()
{
    static const QList<Encoder> encoders = [] {
        QList<Encoder> list;
        for (const ModelDescriptor *model : {&ModelDescriptor::whisperBase(), &ModelDescriptor::whisperLargeV3()}) {
            const QString name = encoderDirectoryName(model->id);
            // the archives sit beside the model files in the same repository
            list.append({model->id, name, model->downloadURL.resolved(QUrl(name + QStringLiteral(".zip")))});
        }
        return list;
    }();
    return encoders;
}

QString CoreMLEncoderDownloader::encoderDirectoryName(const QString &modelFile)
{
    static const QRegularExpression quantisation(QStringLiteral("-q\\d+_\\d+$"));
    QString base = modelFile;
    if (base.endsWith(QLatin1String(".bin")))
        base.chop(4);
    base.remove(quantisation);
    return base + QStringLiteral("-encoder.mlmodelc");
}

std::optional<QString> CoreMLEncoderDownloader::encoderNameFor(const QString &modelFile)
{
    for (const Encoder &encoder : defaultEncoders()) {
        if (encoder.modelFile == modelFile)
            return encoder.encoderName;
    }
    return std::nullopt;
}

CoreMLEncoderDownloader::CoreMLEncoderDownloader(ModelManager &modelManager, QList<Encoder> encoders,
                                                 const FreeSpace &freeSpace, QObject *parent)
    : QObject(parent)
    , m_modelManager(modelManager)
    , m_encoders(std::move(encoders))
    , m_freeSpace(freeSpace)
{
}

CoreMLEncoderDownloader::~CoreMLEncoderDownloader()
{
    // Nothing starts from here on: an unpacking under way stops, and so does
    // every chain that ending the transfers below wakes up.
    *m_stopping = true;
    // Their chains run as the replies go, so they go now, while everything
    // those chains reach is whole, not among the members.
    qDeleteAll(m_network.findChildren<QNetworkReply *>());
}

QFuture<void> CoreMLEncoderDownloader::downloadMissingEncoders()
{
    // only the application container: without it there is nothing to do
    const std::optional<QString> directory = m_modelManager.containerModelsDirectory();
    if (!directory)
        return QtFuture::makeReadyFuture();
    return fetchFrom(0, *directory);
}

QFuture<void> CoreMLEncoderDownloader::fetchFrom(qsizetype index, const QString &directory)
{
    if (*m_stopping)
        return QtFuture::makeReadyFuture();
    const QDir dir(directory);
    for (; index < m_encoders.size(); ++index) {
        const Encoder &encoder = m_encoders[index];
        if (!QFileInfo::exists(dir.filePath(encoder.modelFile)) || QFileInfo::exists(dir.filePath(encoder.encoderName)))
            continue;
        // a rejected model is not installed: its encoder would serve nothing
        if (const QString problem = m_modelManager.problemWithWhisperModelFile(dir.filePath(encoder.modelFile));
            !problem.isEmpty()) {
            log(QStringLiteral("No encoder for %1, which is not installed: %2").arg(encoder.modelFile, problem));
            continue;
        }
        setIsDownloading(true);
        setActiveModel(encoder.modelFile);
        m_modelManager.setDownloadFailure(encoder.encoderName, QString());
        log(QStringLiteral("Downloading encoder for %1").arg(encoder.modelFile));
        const QString modelFile = encoder.modelFile;
        const QString encoderName = encoder.encoderName;
        // Whatever the outcome, the next encoder follows, unless this goes first.
        return m_followed
            .follow(downloadAndInstall(encoder.archiveURL, directory, encoder.encoderName)
                        .then([modelFile] { log(QStringLiteral("Installed encoder for %1").arg(modelFile)); })
                        .onFailed([modelFile, encoderName, manager = QPointer<ModelManager>(&m_modelManager),
                                   stopping = m_stopping](const std::exception &error) {
                            log(QStringLiteral("Encoder download failed for %1: %2")
                                    .arg(modelFile, describeException(error)));
                            // shown where Settings shows downloads, not only logged
                            if (manager && !*stopping && isLasting(error))
                                manager->setDownloadFailure(encoderName, encoderName + QStringLiteral(": ")
                                                                             + describeException(error));
                        }))
            .then(this, [this, index, directory] { return fetchFrom(index + 1, directory); })
            .unwrap();
    }
    setIsDownloading(false);
    setActiveModel(QString());
    return QtFuture::makeReadyFuture();
}

QFuture<void> CoreMLEncoderDownloader::downloadAndInstall(const QUrl &url, const QString &directory,
                                                          const QString &encoderName)
{
    return std::make_shared<Installation>(this, directory, encoderName, m_limits, m_freeSpace)
        ->start(m_network, url, m_unpacker, m_followed, m_stopping);
}

void CoreMLEncoderDownloader::setIsDownloading(bool value)
{
    if (m_isDownloading == value)
        return;
    m_isDownloading = value;
    emit isDownloadingChanged();
}

void CoreMLEncoderDownloader::setActiveModel(const QString &value)
{
    if (m_activeModel == value)
        return;
    m_activeModel = value;
    emit activeModelChanged();
}
