#include "ModelDownloadService.h"

#include "models/ModelDownloadError.h"
#include "models/ModelManager.h"
#include "models/TransferError.h"
#include "support/ByteCountFormat.h"
#include "support/FileWriting.h"
#include "support/Log.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qint64 kProgressLogInterval = 50 * 1024 * 1024;
constexpr qint64 kReadChunk = 1024 * 1024;
constexpr qint64 kPublishIntervalMs = 100;
constexpr qint64 kWritebackInterval = 4 * 1024 * 1024;
// Bounds what Qt buffers ahead of our writes, so memory stays flat whatever
// the file size.
constexpr qint64 kReplyBuffer = 8 * 1024 * 1024;
// An attempt counts as progress, retried at once with the failure count
// reset, only when it saved at least this much (or 1% of a small file): a
// server dripping a few bytes per attempt must still run into the backoff.
constexpr qint64 kRealProgress = 1024 * 1024;

void debugLog(const QString &message)
{
    logLine("DEBUG-85dc62", message);
}

qint64 fileSize(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
}

// Model ids with a download running in this process: two writers appending to
// one partial file would corrupt it.
QSet<QString> &runningModelIDs()
{
    static QSet<QString> ids;
    return ids;
}

int errorCode(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ModelDownloadError &e) {
        return e.status();
    } catch (const TransferError &e) {
        return int(e.code());
    } catch (...) {
    }
    return 0;
}

bool isPermanent(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const TransferError &e) {
        return e.isPermanent();
    } catch (...) {
    }
    return false;
}

bool isHttpStatus(const std::exception_ptr &error, int status)
{
    try {
        std::rethrow_exception(error);
    } catch (const ModelDownloadError &e) {
        return e.kind() == ModelDownloadError::Kind::httpError && e.status() == status;
    } catch (...) {
    }
    return false;
}

// Makes the finished file durable before it replaces the old one.
void syncFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

ModelDownloadService::ModelDownloadService(MonotonicClock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
{
    m_idleTimer.setSingleShot(true);
    m_resourceTimer.setSingleShot(true);
    const auto timeOut = [this] {
        if (!m_reply)
            return;
        m_timedOut = true;
        m_reply->abort();
    };
    // Data only notes the time: restarting a timer for every chunk costs
    // throughput. The idle timer looks at that time when it fires.
    connect(&m_idleTimer, &QTimer::timeout, this, [this, timeOut] {
        const auto quiet = std::chrono::milliseconds(m_sinceData.elapsed());
        if (quiet < m_timeouts.request)
            m_idleTimer.start(m_timeouts.request - quiet);
        else
            timeOut();
    });
    connect(&m_resourceTimer, &QTimer::timeout, this, timeOut);
}

ModelDownloadService::~ModelDownloadService()
{
    if (m_isActive)
        endWithError(std::make_exception_ptr(TransferError::cancelled()));
}

QFuture<void> ModelDownloadService::download(const ModelDescriptor &model, ModelManager *manager)
{
    debugLog(QStringLiteral("download() entry: model=%1, isActive=%2").arg(model.id).arg(int(m_isActive)));
    if (m_isActive || runningModelIDs().contains(model.id)) {
        debugLog(QStringLiteral("download() blocked: already active"));
        return QtFuture::makeExceptionalFuture(ModelDownloadError::alreadyDownloading());
    }
    Q_ASSERT(manager);
    m_isActive = true;
    runningModelIDs().insert(model.id);
    m_manager = manager;
    manager->setDownloadFailure(model.id, QString());
    m_model = model;
    m_expectedBytes = model.expectedBytes;
    m_acceptance = DownloadAcceptance::forModel(model);
    m_promise.emplace();
    m_promise->start();
    QFuture<void> future = m_promise->future();

    const QString directory = manager->modelsDirectory();
    m_destination = QDir(directory).filePath(model.id);
    m_partialFile = m_destination + QStringLiteral(".partial");
    if (!QDir().mkpath(directory)) {
        endWithError(std::make_exception_ptr(
                         DescribedError(QStringLiteral("Could not create the models directory %1.").arg(directory))),
                     Ending::lasting);
        return future;
    }
    prepareAttemptState();
    m_consecutiveFailures = 0;
    m_discardedBytes = 0;
    startAttempt();
    return future;
}

void ModelDownloadService::prepareAttemptState()
{
    m_existingBytes = fileSize(m_partialFile);
    const double fraction = m_expectedBytes >= 1 ? double(m_existingBytes) / double(m_expectedBytes) : 0.0;
    QString status = QStringLiteral("Starting...");
    if (m_existingBytes >= 1) {
        status = QStringLiteral("Resuming from %1 (%2%)...")
                     .arg(formatByteCount(m_existingBytes))
                     .arg(int(fraction * 100));
    }
    if (m_manager) {
        m_manager->setIsDownloading(true);
        m_manager->setDownloadProgress(fraction);
        m_manager->setDownloadingModelID(m_model.id);
        m_manager->setDownloadStatusText(status);
    }
}

void ModelDownloadService::startAttempt()
{
    debugLog(QStringLiteral("attempt start: existingBytes=%1, consecutiveFailures=%2")
                 .arg(m_existingBytes)
                 .arg(m_consecutiveFailures));
    releaseAttempt();
    m_bytesWrittenTotal = m_existingBytes;
    m_writebackStart = m_existingBytes;
    m_bytesThisAttempt = 0;
    m_sentRangeRequest = m_existingBytes > 0;
    m_responseHandled = false;
    m_timedOut = false;
    m_expectedEnd = -1;
    m_expectedTotal = -1;
    m_checkHead = false;
    m_sincePublish.invalidate();
    m_attemptError = nullptr;
    m_fatal = false;
    m_restartFresh = false;

    // Unbuffered, so a full disk shows at the write that hit it.
    m_file.setFileName(m_partialFile);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        endWithError(std::make_exception_ptr(ModelDownloadError::writeFailed(m_file.errorString())), Ending::lasting);
        return;
    }
    // Whatever keeps a second Tavrune away, two writers appending to one
    // partial file would corrupt it: hold it, on a descriptor of its own that
    // stays open until the file is installed or given up.
    if (const std::optional<QString> holder = m_partialLock.take(m_file.handle())) {
        m_file.close();
        debugLog(QStringLiteral("partial file held by %1").arg(holder->isEmpty() ? QStringLiteral("?") : *holder));
        endWithError(std::make_exception_ptr(
                         ModelDownloadError::partialFileInUse(QFileInfo(m_partialFile).fileName(), *holder)),
                     Ending::lasting);
        return;
    }
    performAttempt(m_model.downloadURL, m_partialFile, m_existingBytes);
}

void ModelDownloadService::performAttempt(const QUrl &url, const QString &partialFile, qint64 existingBytes)
{
    Q_UNUSED(partialFile);
    if (!url.isValid() || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))) {
        // no request can be made: the outcome is known at once
        QMetaObject::invokeMethod(this, [this] {
            releaseAttempt();
            handleAttemptFailure(std::make_exception_ptr(TransferError::unsupportedURL()));
        }, Qt::QueuedConnection);
        return;
    }

    m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(url);
    // byte offsets must be the file's, not those of a compressed stream
    request.setRawHeader("Accept-Encoding", "identity");
    if (existingBytes >= 1) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(existingBytes) + '-');
        debugLog(QStringLiteral("Range request from byte %1").arg(existingBytes));
    } else {
        debugLog(QStringLiteral("starting fresh download: %1").arg(url.toString()));
    }
    m_reply = m_network->get(request);
    m_reply->setReadBufferSize(kReplyBuffer);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &ModelDownloadService::onResponse);
    connect(m_reply, &QIODevice::readyRead, this, &ModelDownloadService::onData);
    connect(m_reply, &QNetworkReply::finished, this, &ModelDownloadService::onFinished);
    m_sinceData.start();
    m_idleTimer.start(m_timeouts.request);
    m_resourceTimer.start(m_timeouts.resource);
}

void ModelDownloadService::rejectAttempt(const std::exception_ptr &error)
{
    m_attemptError = error;
    m_file.close();
    // Not from inside the reply's own signal: Qt is still reporting it.
    QMetaObject::invokeMethod(this, [reply = QPointer<QNetworkReply>(m_reply)] {
        if (reply)
            reply->abort();
    }, Qt::QueuedConnection);
}

void ModelDownloadService::onResponse()
{
    if (m_responseHandled || !m_reply || m_attemptError)
        return;
    const QVariant statusAttribute = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    // a redirect that is being followed: the real answer comes next
    if (status >= 300 && status < 400 && !m_reply->isFinished())
        return;
    m_responseHandled = true;
    if (!statusAttribute.isValid()) {
        rejectAttempt(std::make_exception_ptr(ModelDownloadError::httpError(0)));
        return;
    }
    debugLog(QStringLiteral("response status: %1, sentRange=%2").arg(status).arg(int(m_sentRangeRequest)));

    switch (status) {
    case 200:
    case 206: {
        DownloadAcceptance::Announcement span;
        const QString refusal = m_acceptance->readHeaders(status, m_reply->rawHeader("Content-Length"),
                                                          m_reply->rawHeader("Content-Range"), span);
        if (!refusal.isEmpty()) {
            debugLog(QStringLiteral("rejecting response: %1").arg(refusal));
            rejectAttempt(std::make_exception_ptr(ModelDownloadError::notAModelFile(refusal)));
            return;
        }
        if (status == 206 && span.offset != m_bytesWrittenTotal) {
            // Appending bytes from another offset would corrupt the file.
            debugLog(QStringLiteral("rejecting 206: Content-Range \"%1\" does not start at byte %2")
                         .arg(QString::fromLatin1(m_reply->rawHeader("Content-Range")))
                         .arg(m_bytesWrittenTotal));
            m_restartFresh = true;
            rejectAttempt(std::make_exception_ptr(TransferError(
                QNetworkReply::ProtocolFailure, QStringLiteral("The server resumed from the wrong offset."))));
            return;
        }
        // Checked before the first byte: a disk that fills up half-way helps nobody.
        // A 200 to a range request empties the partial file first, so only
        // the growth past its size counts.
        if (const QString noRoom = DownloadAcceptance::checkRoom(span.end - m_bytesWrittenTotal,
                                                                QFileInfo(m_partialFile).absolutePath());
            !noRoom.isEmpty()) {
            debugLog(QStringLiteral("rejecting response: %1").arg(noRoom));
            m_fatal = true;
            rejectAttempt(std::make_exception_ptr(ModelDownloadError::notEnoughSpace(noRoom)));
            return;
        }
        m_expectedEnd = span.end;
        m_expectedTotal = span.total;
        // The start of the file is checked before any of it is written, and
        // before a partial file is given up for it.
        m_checkHead = span.offset == 0;
        if (!m_checkHead) {
            if (const QString wrongSize = m_acceptance->checkStart({}, span.total); !wrongSize.isEmpty())
                rejectAttempt(std::make_exception_ptr(ModelDownloadError::notAModelFile(wrongSize)));
        }
        return;
    }
    case 416:
        debugLog(QStringLiteral("416 Range Not Satisfiable, deleting partial"));
        rejectAttempt(std::make_exception_ptr(ModelDownloadError::httpError(416)));
        return;
    default:
        debugLog(QStringLiteral("rejecting response: HTTP %1").arg(status));
        rejectAttempt(std::make_exception_ptr(ModelDownloadError::httpError(status)));
        return;
    }
}

void ModelDownloadService::onData()
{
    if (!m_reply || m_attemptError)
        return;
    if (!m_responseHandled)
        onResponse();
    if (m_attemptError || !m_responseHandled)
        return;
    m_sinceData.start();
    if (m_checkHead && !acceptHead())
        return;
    if (m_buffer.size() != kReadChunk)
        m_buffer.resize(kReadChunk);
    while (m_reply->bytesAvailable() > 0) {
        const qint64 size = m_reply->read(m_buffer.data(), kReadChunk);
        if (size <= 0)
            break;
        if (m_expectedEnd >= 0 && m_bytesWrittenTotal + size > m_expectedEnd) {
            // more than announced: what is in the file can no longer be trusted
            debugLog(QStringLiteral("server sent more than announced (%1 > %2), discarding partial file")
                         .arg(m_bytesWrittenTotal + size)
                         .arg(m_expectedEnd));
            m_restartFresh = true;
            rejectAttempt(std::make_exception_ptr(TransferError(
                QNetworkReply::ProtocolFailure, QStringLiteral("The server sent more data than announced."))));
            return;
        }
        if (!FileWriting::writeAll(m_file, m_buffer.constData(), size)) {
            // a full disk does not fix itself: stop now, keep what was saved
            const QString reason = m_file.errorString();
            debugLog(QStringLiteral("write to partial file failed: %1").arg(reason));
            m_fatal = true;
            rejectAttempt(std::make_exception_ptr(ModelDownloadError::writeFailed(reason)));
            return;
        }
        m_bytesWrittenTotal += size;
        m_bytesThisAttempt += size;
        if (m_bytesWrittenTotal - m_writebackStart >= kWritebackInterval) {
            // Start writing back now, so the sync before the install does
            // not wait for the whole file.
            ::sync_file_range(m_file.handle(), m_writebackStart, m_bytesWrittenTotal - m_writebackStart,
                              SYNC_FILE_RANGE_WRITE);
            m_writebackStart = m_bytesWrittenTotal;
        }
        if (m_bytesWrittenTotal == size || m_bytesWrittenTotal % kProgressLogInterval < size) {
            const double fraction = double(m_bytesWrittenTotal) / double(qMax<qint64>(m_expectedBytes, 1));
            debugLog(QStringLiteral("progress: %1 / %2 (%3%)")
                         .arg(m_bytesWrittenTotal)
                         .arg(m_expectedBytes)
                         .arg(int(qMin(fraction, 0.99) * 100)));
        }
    }
    publishProgress();
}

bool ModelDownloadService::acceptHead()
{
    const qint64 needed = qMin<qint64>(DownloadAcceptance::signatureBytes, m_expectedEnd);
    if (m_reply->bytesAvailable() < needed && !m_reply->isFinished())
        return false;
    m_checkHead = false;
    const QString refusal = m_acceptance->checkStart(m_reply->peek(needed), m_expectedTotal);
    if (!refusal.isEmpty()) {
        debugLog(QStringLiteral("rejecting body: %1").arg(refusal));
        rejectAttempt(std::make_exception_ptr(ModelDownloadError::notAModelFile(refusal)));
        return false;
    }
    if (m_bytesWrittenTotal > 0) {
        debugLog(QStringLiteral("server returned 200 despite Range header, restarting from scratch"));
        m_file.resize(0);
        m_bytesWrittenTotal = 0;
        m_writebackStart = 0;
    }
    return true;
}

void ModelDownloadService::publishProgress()
{
    // Applied right here on the main thread while the download runs, so no
    // late update can reach the manager after it went idle.
    if (!m_manager || !m_isActive)
        return;
    // a few times a second is all a person can read
    if (m_sincePublish.isValid() && m_sincePublish.elapsed() < kPublishIntervalMs && m_bytesWrittenTotal != m_expectedEnd)
        return;
    m_sincePublish.start();
    const double fraction = double(m_bytesWrittenTotal) / double(qMax<qint64>(m_expectedBytes, 1));
    m_manager->setIsDownloading(true);
    m_manager->setDownloadProgress(qMin(fraction, 0.99));
    m_manager->setDownloadStatusText(formatByteCount(m_bytesWrittenTotal) + QStringLiteral(" / ")
                                     + formatByteCount(m_expectedBytes));
}

void ModelDownloadService::onFinished()
{
    if (!m_reply)
        return;
    m_idleTimer.stop();
    m_resourceTimer.stop();
    if (!m_attemptError && m_reply->error() == QNetworkReply::NoError) {
        if (!m_responseHandled)
            onResponse();
        onData();
    }
    m_file.close();

    const QVariant statusAttribute = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : -1;
    std::exception_ptr error = m_attemptError;
    if (!error && m_reply->error() != QNetworkReply::NoError) {
        // Qt reports a body cut off by the server either as this error or,
        // when the socket closed before it looked, as a clean end: the same
        // cut gets the same message either way.
        const bool cut = m_responseHandled && m_reply->error() == QNetworkReply::RemoteHostClosedError;
        error = std::make_exception_ptr(m_timedOut ? TransferError::timedOut()
                                        : cut      ? TransferError::cutShort()
                                                   : TransferError(m_reply->error(), m_reply->errorString()));
    }
    if (!error && !m_responseHandled)
        error = std::make_exception_ptr(ModelDownloadError::httpError(status < 0 ? 0 : status));
    // A clean end before the announced length is still a dropped connection,
    // and so is a range that stops before the end of the file.
    if (!error && (m_bytesWrittenTotal != m_expectedEnd || m_expectedEnd != m_expectedTotal))
        error = std::make_exception_ptr(TransferError::cutShort());
    if (!error) {
        if (const QString refusal = m_acceptance->checkFile(m_partialFile, m_expectedTotal); !refusal.isEmpty()) {
            m_restartFresh = true;
            error = std::make_exception_ptr(ModelDownloadError::notAModelFile(refusal));
        }
    }
    if (!error && m_manager) {
        // Whole and of the right kind, yet unusable: installed, it would fail
        // or crash every dictation. The server would send the same again.
        if (const QString problem = m_manager->problemWithModelFile(m_model, m_partialFile); !problem.isEmpty()) {
            debugLog(QStringLiteral("rejecting the finished file: %1, deleting it").arg(problem));
            QFile::remove(m_partialFile);
            m_fatal = true;
            error = std::make_exception_ptr(
                ModelDownloadError::notAModelFile(QStringLiteral("Not a Whisper model: %1.").arg(problem)));
        }
    }
    debugLog(QStringLiteral("didCompleteWithError: hasError=%1, status=%2, totalWritten=%3, desc=%4")
                 .arg(int(bool(error)))
                 .arg(status)
                 .arg(m_bytesWrittenTotal)
                 .arg(error ? describeException(error) : QStringLiteral("none")));

    const bool fatal = m_fatal;
    releaseAttempt();
    if (!error)
        complete();
    else if (fatal)
        endWithError(error, Ending::lasting);
    else
        handleAttemptFailure(error);
}

void ModelDownloadService::handleAttemptFailure(const std::exception_ptr &error)
{
    // Progress is a file longer than before, or than the one thrown away to
    // start this attempt afresh: a server that restarts every resume from zero
    // and drops early would otherwise loop at once forever.
    const qint64 sizeToBeat = qMax(m_existingBytes, std::exchange(m_discardedBytes, 0));
    if (isPermanent(error)) {
        debugLog(QStringLiteral("permanent error, not retrying: %1").arg(describeException(error)));
        endWithError(error);
        return;
    }
    if ((isHttpStatus(error, 416) && m_sentRangeRequest) || m_restartFresh) {
        // past the end of the file, or a file the server garbled
        debugLog(QStringLiteral("deleting stale partial file, will restart fresh"));
        QFile::remove(m_partialFile);
        // From byte 0 the server has no excuse: count it, so this cannot
        // loop forever.
        if (!m_sentRangeRequest) {
            waitAndRetry(error);
            return;
        }
        m_discardedBytes = sizeToBeat;
    } else if (m_bytesWrittenTotal - sizeToBeat >= qMin(kRealProgress, qMax<qint64>(m_expectedBytes / 100, 1))) {
        debugLog(QStringLiteral("connection dropped but saved %1 new bytes (total: %2), retrying immediately")
                     .arg(m_bytesThisAttempt)
                     .arg(fileSize(m_partialFile)));
        m_consecutiveFailures = 0;
    } else {
        waitAndRetry(error);
        return;
    }
    prepareAttemptState();
    startAttempt();
}

void ModelDownloadService::waitAndRetry(const std::exception_ptr &error)
{
    debugLog(QStringLiteral("attempt failed: code=%1, desc=%2, consecutiveFailures=%3")
                 .arg(errorCode(error))
                 .arg(describeException(error))
                 .arg(m_consecutiveFailures + 1));
    if (m_consecutiveFailures >= maxRetries - 1) {
        endWithError(error);
        return;
    }
    const int wait = qMin((m_consecutiveFailures + 1) * (m_consecutiveFailures + 1), 30);
    if (m_manager) {
        m_manager->setDownloadStatusText(
            QStringLiteral("Retry %1/%2 in %3s...").arg(m_consecutiveFailures + 1).arg(maxRetries).arg(wait));
        m_manager->setIsDownloading(true);
    }
    debugLog(QStringLiteral("waiting %1s before retry %2").arg(wait).arg(m_consecutiveFailures + 2));
    m_clock.callAfter(std::chrono::seconds(wait), this, [this] {
        ++m_consecutiveFailures;
        prepareAttemptState();
        startAttempt();
    });
}

void ModelDownloadService::complete()
{
    const qint64 finalSize = fileSize(m_partialFile);
    // rename(2) replaces the old file in one step: there is always a model.
    syncFile(m_partialFile);
    if (::rename(QFile::encodeName(m_partialFile).constData(), QFile::encodeName(m_destination).constData()) != 0) {
        debugLog(QStringLiteral("moving %1 into place failed: %2")
                     .arg(m_partialFile, QString::fromLocal8Bit(std::strerror(errno))));
        endWithError(std::make_exception_ptr(ModelDownloadError::fileMoveFailed()));
        return;
    }
    syncFile(QFileInfo(m_destination).absolutePath());
    m_partialLock.release();
    debugLog(QStringLiteral("download complete, file at %1 (%2 bytes)").arg(m_destination).arg(finalSize));

    if (m_manager) {
        m_manager->setIsDownloading(true);
        m_manager->setDownloadProgress(1.0);
        m_manager->setDownloadStatusText(QStringLiteral("Complete!"));
        m_manager->refreshInstalledModels();
        m_manager->resetDownloadState();
    }
    m_isActive = false;
    runningModelIDs().remove(m_model.id);
    releaseAttempt();
    m_promise->finish();
    m_promise.reset();
}

void ModelDownloadService::endWithError(const std::exception_ptr &error, Ending ending)
{
    m_isActive = false;
    runningModelIDs().remove(m_model.id);
    releaseAttempt();
    // an attempt that failed before its first byte leaves no empty file
    if (const QFileInfo partial(m_partialFile); partial.isFile() && partial.size() == 0 && m_partialLock.isHeld())
        QFile::remove(m_partialFile);
    m_partialLock.release();
    if (m_manager) {
        m_manager->resetDownloadState();
        // the next launch would meet it again: say so where downloads are shown
        if (ending == Ending::lasting)
            m_manager->setDownloadFailure(m_model.id, m_model.id + QStringLiteral(": ") + describeException(error));
    }
    if (m_promise) {
        m_promise->setException(error);
        m_promise->finish();
        m_promise.reset();
    }
}

void ModelDownloadService::releaseAttempt()
{
    m_idleTimer.stop();
    m_resourceTimer.stop();
    m_file.close();
    if (m_reply) {
        QNetworkReply *reply = std::exchange(m_reply, nullptr);
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    if (m_network)
        std::exchange(m_network, nullptr)->deleteLater();
}
