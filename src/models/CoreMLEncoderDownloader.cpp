#include "CoreMLEncoderDownloader.h"

#include "models/CoreMLEncoderError.h"
#include "models/DownloadAcceptance.h"
#include "models/FileDownload.h"
#include "models/ModelDescriptor.h"
#include "models/ModelManager.h"
#include "support/ByteCountFormat.h"
#include "support/FreeSpace.h"
#include "support/FutureWatch.h"
#include "support/Log.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QPromise>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

namespace {

const QString kUnzip = QStringLiteral("/usr/bin/unzip");
// The large encoder unpacks to some 1.3 GB; an archive claiming more is not one.
constexpr qint64 kMaximumUnpackedBytes = 3'000'000'000;

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
    // nothing may wait for an answer (unzip asks "disk full? Continue?")
    process->setStandardInputFile(QProcess::nullDevice());
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

// The entries of a zip archive as "unzip -Zs" lists them: permissions,
// unpacked size and name.
struct ArchiveEntry {
    QString permissions;
    qint64 size = 0;
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
        QStringLiteral("^(\\S+)\\s+\\S+\\s+\\S+\\s+(\\d+)\\s+\\S+\\s+\\S+\\s+\\S+\\s+\\d\\d:\\d\\d (.+)$"));
    QList<ArchiveEntry> entries;
    for (qsizetype i = 2; i < lines.size() - 1; ++i) {
        const auto match = entryPattern.match(lines[i]);
        // a name with a line break in it shows up here
        if (!match.hasMatch())
            return std::nullopt;
        entries.append({match.captured(1), match.captured(2).toLongLong(), match.captured(3)});
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

// One archive on its way from the server into the models directory: download,
// list, unpack into a staging directory, move into place. Every failure
// removes what was staged, so a half-unpacked encoder never counts as present.
class Installation : public std::enable_shared_from_this<Installation> {
public:
    Installation(QObject *context, const QString &directory, const QString &encoderName)
        : m_context(context)
        , m_directory(directory)
        , m_encoderName(encoderName)
        , m_zipPath(QDir(directory).filePath(encoderName + QStringLiteral(".zip")))
    {
        m_promise.start();
    }

    QFuture<void> start(QNetworkAccessManager &network, const QUrl &url, qint64 maximumArchiveBytes)
    {
        QFuture<void> future = m_promise.future();
        // leftovers of a run that was killed half-way
        QFile::remove(m_zipPath);
        const QDir dir(m_directory);
        for (const QString &stale : dir.entryList({stagingPrefix() + QLatin1Char('*')}, QDir::Dirs | QDir::Hidden))
            QDir(dir.filePath(stale)).removeRecursively();
        const DownloadAcceptance acceptance(DownloadAcceptance::Format::zip, maximumArchiveBytes);
        FileDownload::fetch(network, url, m_zipPath, acceptance, {}, m_context)
            .then(m_context, [self = shared_from_this()](QFuture<void> download) { self->downloaded(download); });
        return future;
    }

private:
    QString stagingPrefix() const { return QStringLiteral(".") + m_encoderName + QStringLiteral("-staging-"); }

    void downloaded(QFuture<void> download)
    {
        if (const auto error = Futures::failureOf(download)) {
            try {
                std::rethrow_exception(error);
            } catch (const FileDownloadError &refused) {
                if (refused.status() != 0)
                    return fail(CoreMLEncoderError::httpError());
            } catch (...) {
            }
            return fail(error);
        }
        // Look before unpacking: a hostile entry could write anywhere.
        runProcess(kUnzip, {QStringLiteral("-Zs"), m_zipPath}, m_context)
            .then(m_context, [self = shared_from_this()](QFuture<ProcessResult> listing) { self->listed(listing); });
    }

    void listed(QFuture<ProcessResult> listing)
    {
        if (const auto error = Futures::failureOf(listing))
            return fail(error);
        const auto entries = parseListing(listing.result().output);
        if (listing.result().exitCode != 0 || !entries || entries->isEmpty())
            return fail(CoreMLEncoderError::unzipFailed());
        qint64 unpacked = 0;
        for (const ArchiveEntry &entry : *entries) {
            if (!isSafeEntry(entry, m_encoderName)) {
                log(QStringLiteral("Refusing %1: entry \"%2\" is not a file or directory inside %3/")
                        .arg(QFileInfo(m_zipPath).fileName(), entry.name, m_encoderName));
                return fail(CoreMLEncoderError::unzipFailed());
            }
            unpacked += entry.size;
        }
        // a small archive can unpack to enough to fill the disk
        // where free space cannot be read, the cap alone applies
        const qint64 room = qMin(kMaximumUnpackedBytes, FreeSpace::availableBytes(m_directory).value_or(kMaximumUnpackedBytes));
        if (unpacked > room)
            return fail(DescribedError(QStringLiteral("The encoder archive would unpack to %1, more than there is room for.")
                                           .arg(formatByteCount(unpacked))));
        m_staging = std::make_unique<QTemporaryDir>(QDir(m_directory).filePath(stagingPrefix() + QStringLiteral("XXXXXX")));
        if (!m_staging->isValid())
            return fail(DescribedError(
                QStringLiteral("Could not create a staging directory: %1").arg(m_staging->errorString())));
        // -n: never overwrite, so unzip has nothing to ask about
        const QStringList arguments{QStringLiteral("-nq"), m_zipPath, QStringLiteral("-d"), m_staging->path()};
        runProcess(kUnzip, arguments, m_context)
            .then(m_context, [self = shared_from_this()](QFuture<ProcessResult> extraction) {
                self->extracted(extraction);
            });
    }

    void extracted(QFuture<ProcessResult> extraction)
    {
        if (const auto error = Futures::failureOf(extraction))
            return fail(error);
        QFile::remove(m_zipPath);
        const QString staged = QDir(m_staging->path()).filePath(m_encoderName);
        const QFileInfo stagedInfo(staged);
        if (extraction.result().exitCode != 0 || !stagedInfo.isDir() || stagedInfo.isSymLink()
            || containsSymlink(staged))
            return fail(CoreMLEncoderError::unzipFailed());
        // appears whole under its final name, or not at all
        if (!QDir().rename(staged, QDir(m_directory).filePath(m_encoderName)))
            return fail(DescribedError(QStringLiteral("Could not move the encoder into %1.").arg(m_directory)));
        m_staging.reset();
        m_promise.finish();
    }

    void fail(const std::exception_ptr &error)
    {
        QFile::remove(m_zipPath);
        m_staging.reset();
        m_promise.setException(error);
        m_promise.finish();
    }
    template <typename E>
    void fail(const E &error)
    {
        fail(std::make_exception_ptr(error));
    }

    QObject *m_context;
    QPromise<void> m_promise;
    QString m_directory;
    QString m_encoderName;
    QString m_zipPath;
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

CoreMLEncoderDownloader::CoreMLEncoderDownloader(const ModelManager &modelManager, QList<Encoder> encoders,
                                                 QObject *parent)
    : QObject(parent)
    , m_modelManager(modelManager)
    , m_encoders(std::move(encoders))
{
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
    const QDir dir(directory);
    for (; index < m_encoders.size(); ++index) {
        const Encoder &encoder = m_encoders[index];
        if (!QFileInfo::exists(dir.filePath(encoder.modelFile)) || QFileInfo::exists(dir.filePath(encoder.encoderName)))
            continue;
        setIsDownloading(true);
        setActiveModel(encoder.modelFile);
        log(QStringLiteral("Downloading encoder for %1").arg(encoder.modelFile));
        const QString modelFile = encoder.modelFile;
        return downloadAndInstall(encoder.archiveURL, directory, encoder.encoderName)
            .then(this, [modelFile] { log(QStringLiteral("Installed encoder for %1").arg(modelFile)); })
            .onFailed(this,
                      [modelFile](const std::exception &error) {
                          log(QStringLiteral("Encoder download failed for %1: %2")
                                  .arg(modelFile, describeException(error)));
                      })
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
    return std::make_shared<Installation>(this, directory, encoderName)->start(m_network, url, m_limits.archiveBytes);
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
