#include "CoreMLEncoderDownloader.h"

#include "models/CoreMLEncoderError.h"
#include "models/ModelDescriptor.h"
#include "models/ModelManager.h"
#include "models/TransferError.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "support/Log.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QPointer>
#include <QProcess>
#include <QPromise>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

namespace {

const QString kUnzip = QStringLiteral("/usr/bin/unzip");
constexpr int kTransferTimeoutMs = 120'000;
constexpr qint64 kReplyBuffer = 4 * 1024 * 1024;

struct ProcessResult {
    int exitCode = -1;
    QByteArray output;
};

// Runs a program without blocking the caller's thread; fails when it cannot
// be started or crashes.
QFuture<ProcessResult> runProcess(const QString &program, const QStringList &arguments, QObject *context)
{
    auto promise = std::make_shared<QPromise<ProcessResult>>();
    promise->start();
    auto *process = new QProcess(context);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    const auto fail = [promise, process, program] {
        promise->setException(DescribedError(
            QStringLiteral("Could not run %1: %2").arg(program, process->errorString())));
        promise->finish();
        process->deleteLater();
    };
    // a crash is reported by finished() as well; only a failed start is not
    QObject::connect(process, &QProcess::errorOccurred, context, [fail](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            fail();
    });
    QObject::connect(process, &QProcess::finished, context,
                     [promise, process, fail](int exitCode, QProcess::ExitStatus status) {
                         if (status != QProcess::NormalExit) {
                             fail();
                             return;
                         }
                         promise->addResult(ProcessResult{exitCode, process->readAllStandardOutput()});
                         promise->finish();
                         process->deleteLater();
                     });
    process->start(program, arguments);
    return promise->future();
}

// The entries of a zip archive as "unzip -Zs" lists them: permissions and name.
struct ArchiveEntry {
    QString permissions;
    QString name;
};

std::optional<QList<ArchiveEntry>> parseListing(const QByteArray &output)
{
    const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.size() < 3)
        return std::nullopt;
    static const QRegularExpression countPattern(QStringLiteral("number of entries: (\\d+)$"));
    const auto count = countPattern.match(lines[1]);
    if (!count.hasMatch())
        return std::nullopt;
    // -rw-r--r--  3.0 unx     1234 bx defN 23-Jan-01 12:00 name with spaces
    static const QRegularExpression entryPattern(
        QStringLiteral("^(\\S+)\\s+\\S+\\s+\\S+\\s+\\d+\\s+\\S+\\s+\\S+\\s+\\S+\\s+\\d\\d:\\d\\d (.+)$"));
    QList<ArchiveEntry> entries;
    for (qsizetype i = 2; i < lines.size() - 1; ++i) {
        const auto match = entryPattern.match(lines[i]);
        // a name with a line break in it shows up here
        if (!match.hasMatch())
            return std::nullopt;
        entries.append({match.captured(1), match.captured(2)});
    }
    if (entries.size() != count.captured(1).toLongLong())
        return std::nullopt;
    return entries;
}

// Only plain files and directories below encoderName/ may be unpacked:
// anything else could write outside the models directory.
bool isSafeEntry(const ArchiveEntry &entry, const QString &encoderName)
{
    const QChar type = entry.permissions.at(0);
    if (type != QLatin1Char('-') && type != QLatin1Char('d'))
        return false;
    if (entry.name.contains(QLatin1Char('\\')) || entry.name.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = entry.name.split(QLatin1Char('/'));
    if (parts.first() != encoderName)
        return false;
    return !parts.contains(QStringLiteral(".."));
}

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

// One archive on its way from the server into the models directory.
struct Installation {
    QPromise<void> promise;
    QString directory;
    QString encoderName;
    QString zipPath;
    QFile zip;
    std::unique_ptr<QTemporaryDir> staging;
    bool rejected = false;
    QString writeError;

    void fail(const std::exception_ptr &error)
    {
        zip.close();
        QFile::remove(zipPath);
        staging.reset();
        promise.setException(error);
        promise.finish();
    }
    template <typename E>
    void fail(const E &error)
    {
        fail(std::make_exception_ptr(error));
    }
};

} // namespace

CoreMLEncoderDownloader &CoreMLEncoderDownloader::shared()
{
    static auto *instance = new CoreMLEncoderDownloader;
    return *instance;
}

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

CoreMLEncoderDownloader::CoreMLEncoderDownloader(QList<Encoder> encoders, QObject *parent)
    : QObject(parent)
    , m_encoders(std::move(encoders))
{
}

QFuture<void> CoreMLEncoderDownloader::downloadMissingEncoders()
{
    auto done = std::make_shared<QPromise<void>>();
    done->start();
    QFuture<void> future = done->future();
    // only the application container: without it there is nothing to do
    const std::optional<QString> container = Platform::instance().paths().appGroupContainer();
    if (!container) {
        done->finish();
        return future;
    }
    fetchFrom(0, QDir(*container).filePath(ModelManager::defaultModelsDirectoryName), done);
    return future;
}

void CoreMLEncoderDownloader::fetchFrom(qsizetype index, const QString &directory,
                                        std::shared_ptr<QPromise<void>> done)
{
    const QDir dir(directory);
    for (; index < m_encoders.size(); ++index) {
        const Encoder &encoder = m_encoders[index];
        if (!QFileInfo::exists(dir.filePath(encoder.modelFile)) || QFileInfo::exists(dir.filePath(encoder.encoderName)))
            continue;
        setIsDownloading(true);
        setActiveModel(encoder.modelFile);
        log(QStringLiteral("Downloading encoder for %1").arg(encoder.modelFile));
        const QString modelFile = encoder.modelFile;
        downloadAndInstall(encoder.archiveURL, directory, encoder.encoderName)
            .then(this, [this, index, directory, done, modelFile](QFuture<void> result) {
                try {
                    result.waitForFinished();
                    log(QStringLiteral("Installed encoder for %1").arg(modelFile));
                } catch (...) {
                    log(QStringLiteral("Encoder download failed for %1: %2")
                            .arg(modelFile, describeException(std::current_exception())));
                }
                fetchFrom(index + 1, directory, done);
            });
        return;
    }
    setIsDownloading(false);
    setActiveModel(QString());
    done->finish();
}

QFuture<void> CoreMLEncoderDownloader::downloadAndInstall(const QUrl &url, const QString &directory,
                                                          const QString &encoderName)
{
    auto job = std::make_shared<Installation>();
    job->promise.start();
    QFuture<void> future = job->promise.future();
    job->directory = directory;
    job->encoderName = encoderName;
    job->zipPath = QDir(directory).filePath(encoderName + QStringLiteral(".zip"));

    QFile::remove(job->zipPath);
    job->zip.setFileName(job->zipPath);
    if (!job->zip.open(QIODevice::WriteOnly)) {
        job->fail(DescribedError(QStringLiteral("Could not save the encoder archive: %1").arg(job->zip.errorString())));
        return future;
    }

    QNetworkRequest request(url);
    request.setTransferTimeout(kTransferTimeoutMs);
    QNetworkReply *reply = m_network.get(request);
    reply->setReadBufferSize(kReplyBuffer);
    connect(reply, &QNetworkReply::metaDataChanged, this, [job, reply] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 200 || (status >= 300 && status < 400 && !reply->isFinished()))
            return;
        job->rejected = true;
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    });
    connect(reply, &QIODevice::readyRead, this, [job, reply] {
        const QByteArray data = reply->readAll();
        if (job->rejected || !job->writeError.isEmpty())
            return;
        if (job->zip.write(data) != data.size()) {
            job->writeError = job->zip.errorString();
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, job, reply] {
        reply->deleteLater();
        if (!job->rejected && reply->error() == QNetworkReply::NoError && reply->bytesAvailable() > 0)
            job->zip.write(reply->readAll());
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (job->rejected || (reply->error() == QNetworkReply::NoError && status.toInt() != 200))
            return job->fail(CoreMLEncoderError::httpError());
        if (reply->error() != QNetworkReply::NoError && job->writeError.isEmpty())
            return job->fail(TransferError(reply->error(), reply->errorString()));
        if (!job->zip.flush() || !job->writeError.isEmpty())
            return job->fail(DescribedError(QStringLiteral("Could not save the encoder archive: %1")
                                                .arg(job->writeError.isEmpty() ? job->zip.errorString() : job->writeError)));
        job->zip.close();

        // Look before unpacking: a hostile entry could write anywhere.
        runProcess(kUnzip, {QStringLiteral("-Zs"), job->zipPath}, this)
            .then(this, [this, job](QFuture<ProcessResult> listing) {
                try {
                    const ProcessResult result = listing.result();
                    const auto entries = parseListing(result.output);
                    if (result.exitCode != 0 || !entries || entries->isEmpty())
                        return job->fail(CoreMLEncoderError::unzipFailed());
                    for (const ArchiveEntry &entry : *entries) {
                        if (!isSafeEntry(entry, job->encoderName)) {
                            log(QStringLiteral("Refusing %1: entry \"%2\" is not a file or directory inside %3/")
                                    .arg(QFileInfo(job->zipPath).fileName(), entry.name, job->encoderName));
                            return job->fail(CoreMLEncoderError::unzipFailed());
                        }
                    }
                } catch (...) {
                    return job->fail(std::current_exception());
                }
                job->staging = std::make_unique<QTemporaryDir>(
                    QDir(job->directory).filePath(QStringLiteral(".") + job->encoderName + QStringLiteral("-XXXXXX")));
                if (!job->staging->isValid())
                    return job->fail(DescribedError(QStringLiteral("Could not create a staging directory: %1")
                                                        .arg(job->staging->errorString())));
                runProcess(kUnzip, {QStringLiteral("-oq"), job->zipPath, QStringLiteral("-d"), job->staging->path()}, this)
                    .then(this, [job](QFuture<ProcessResult> extraction) {
                        int exitCode = -1;
                        try {
                            exitCode = extraction.result().exitCode;
                        } catch (...) {
                            return job->fail(std::current_exception());
                        }
                        QFile::remove(job->zipPath);
                        const QString staged = QDir(job->staging->path()).filePath(job->encoderName);
                        const QFileInfo stagedInfo(staged);
                        if (exitCode != 0 || !stagedInfo.isDir() || stagedInfo.isSymLink() || containsSymlink(staged))
                            return job->fail(CoreMLEncoderError::unzipFailed());
                        // appears whole under its final name, or not at all
                        const QString target = QDir(job->directory).filePath(job->encoderName);
                        if (!QDir().rename(staged, target))
                            return job->fail(DescribedError(
                                QStringLiteral("Could not move the encoder into %1.").arg(job->directory)));
                        job->staging.reset();
                        job->promise.finish();
                    });
            });
    });
    return future;
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
