#include "FileDownload.h"

#include "models/TransferError.h"
#include "support/DescribedError.h"
#include "support/FileWriting.h"
#include "support/FutureWatch.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>

namespace FileDownload {

namespace {

// One transfer: the reply's signals feed it, and the first refusal stops it.
struct Transfer {
    Transfer(const QString &destination, const DownloadAcceptance &acceptance, RoomCheck checkRoom)
        : file(destination)
        , acceptance(acceptance)
        , checkRoom(std::move(checkRoom))
    {
    }

    QSaveFile file;
    DownloadAcceptance acceptance;
    RoomCheck checkRoom;
    DownloadAcceptance::Announcement span;
    bool headersRead = false;
    QByteArray head;
    qint64 written = 0;
    QString refusal;
    int refusedStatus = 0; // the HTTP status of a reply that was not the file
    bool refusedForRoom = false;
    QTimer idle;
    bool timedOut = false;

    void refuse(QNetworkReply *reply, const QString &why)
    {
        if (!refusal.isEmpty())
            return;
        refusal = why;
        // not from inside the reply's own signal: Qt is still reporting it
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    }

    void readHeaders(QNetworkReply *reply)
    {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // a redirect that is being followed: the real answer comes next
        if (headersRead || !refusal.isEmpty() || (status >= 300 && status < 400 && !reply->isFinished()))
            return;
        headersRead = true;
        if (status != 200 && status != 206) {
            refusedStatus = status;
            return refuse(reply, QStringLiteral("The server answered with HTTP status %1.").arg(status));
        }
        const QString why = acceptance.readHeaders(status, reply->rawHeader("Content-Length"),
                                                   reply->rawHeader("Content-Range"), span);
        if (!why.isEmpty())
            return refuse(reply, why);
        if (span.offset != 0 || span.end != span.total)
            return refuse(reply, QStringLiteral("The server sent only part of the file."));
        // before the first byte: a disk that fills up half-way helps nobody
        const QString noRoom = checkRoom ? checkRoom(span.total)
                                         : DownloadAcceptance::checkRoom(span.total,
                                                                         QFileInfo(file.fileName()).absolutePath());
        if (!noRoom.isEmpty()) {
            refusedForRoom = true;
            refuse(reply, noRoom);
        }
    }

    void save(QNetworkReply *reply)
    {
        readHeaders(reply);
        if (!refusal.isEmpty())
            return void(reply->skip(reply->bytesAvailable()));
        idle.start();
        const QByteArray bytes = reply->readAll();
        if (written + bytes.size() > span.end)
            return refuse(reply, QStringLiteral("The server sent more than the %1 bytes it announced.").arg(span.end));
        // the start decides what the file is, before any of it is kept
        if (head.size() < DownloadAcceptance::signatureBytes) {
            head += bytes.left(DownloadAcceptance::signatureBytes - head.size());
            if (head.size() == DownloadAcceptance::signatureBytes || written + bytes.size() == span.end) {
                if (const QString why = acceptance.checkStart(head, span.total); !why.isEmpty())
                    return refuse(reply, why);
            }
        }
        if (!FileWriting::writeAll(file, bytes.constData(), bytes.size()))
            return refuse(reply, QStringLiteral("Could not write %1: %2").arg(file.fileName(), file.errorString()));
        written += bytes.size();
    }

    // Why the transfer failed, or empty when the file may be committed.
    QString outcome(QNetworkReply *reply)
    {
        if (!refusal.isEmpty())
            return refusal;
        if (timedOut)
            return TransferError::timedOut().description();
        // Qt reports a body cut off by the server either as this error or,
        // when the socket closed before it looked, as a clean end: both are
        // judged by what arrived, so the same cut gets the same message.
        const bool cut = headersRead && reply->error() == QNetworkReply::RemoteHostClosedError;
        if (reply->error() != QNetworkReply::NoError && !cut)
            return reply->errorString();
        save(reply);
        if (!refusal.isEmpty())
            return refusal;
        return acceptance.checkComplete(written, head, span.total);
    }
};

} // namespace

QFuture<void> fetch(QNetworkAccessManager &network, const QUrl &source, const QString &destination,
                    const DownloadAcceptance &acceptance, Progress onProgress, QObject *context,
                    std::chrono::milliseconds idleTimeout, RoomCheck checkRoom)
{
    auto promise = Futures::startedPromise<void>();
    auto fail = [promise](const FileDownloadError &error) {
        promise->setException(std::make_exception_ptr(error));
        promise->finish();
    };
    QDir().mkpath(QFileInfo(destination).absolutePath());
    auto transfer = std::make_shared<Transfer>(destination, acceptance, std::move(checkRoom));
    // Unbuffered, so a full disk shows at the write that hit it, with the system's reason.
    if (!transfer->file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        fail(FileDownloadError(QStringLiteral("Could not write %1: %2").arg(destination, transfer->file.errorString())));
        return promise->future();
    }
    QNetworkRequest request(source);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // the announced length must count the bytes we write
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply *reply = network.get(request);
    transfer->idle.setSingleShot(true);
    transfer->idle.setInterval(idleTimeout);
    QObject::connect(&transfer->idle, &QTimer::timeout, reply, [reply, transfer = transfer.get()] {
        transfer->timedOut = true;
        reply->abort();
    });
    transfer->idle.start();

    QObject::connect(reply, &QNetworkReply::metaDataChanged, context, [reply, transfer] { transfer->readHeaders(reply); });
    QObject::connect(reply, &QIODevice::readyRead, context, [reply, transfer] { transfer->save(reply); });
    QObject::connect(reply, &QNetworkReply::downloadProgress, context, [onProgress](qint64 received, qint64 total) {
        if (total > 0 && onProgress)
            onProgress(double(received) / double(total));
    });
    QObject::connect(reply, &QNetworkReply::finished, context, [reply, transfer, fail, promise] {
        reply->deleteLater();
        transfer->idle.stop();
        const QString why = transfer->outcome(reply);
        if (!why.isEmpty()) {
            transfer->file.cancelWriting();
            fail(transfer->refusedForRoom ? FileDownloadError::noRoom(why)
                                          : FileDownloadError(why, transfer->refusedStatus));
            return;
        }
        if (!transfer->file.commit()) {
            fail(FileDownloadError(
                QStringLiteral("Could not write %1: %2").arg(transfer->file.fileName(), transfer->file.errorString())));
            return;
        }
        promise->finish();
    });
    // a context gone before the end abandons the transfer and its file
    QObject::connect(context, &QObject::destroyed, reply, [reply, fail] {
        fail(FileDownloadError(QStringLiteral("cancelled")));
        reply->abort();
    });
    return promise->future();
}

} // namespace FileDownload
