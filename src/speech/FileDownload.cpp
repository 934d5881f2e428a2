#include "FileDownload.h"

#include "support/DescribedError.h"
#include "support/FutureWatch.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSaveFile>

namespace FileDownload {

QFuture<void> fetch(QNetworkAccessManager &network, const QUrl &source, const QString &destination,
                    Progress onProgress, QObject *context)
{
    auto promise = Futures::startedPromise<void>();
    auto fail = [promise](const QString &message) {
        promise->setException(std::make_exception_ptr(DescribedError(message)));
        promise->finish();
    };
    QDir().mkpath(QFileInfo(destination).absolutePath());
    auto file = std::make_shared<QSaveFile>(destination);
    if (!file->open(QIODevice::WriteOnly)) {
        fail(QStringLiteral("Could not write %1: %2").arg(destination, file->errorString()));
        return promise->future();
    }
    QNetworkRequest request(source);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // the announced length must count the bytes we write
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply *reply = network.get(request);
    const QPointer<QNetworkReply> guard(reply);
    auto status = [guard] { return guard ? guard->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0; };
    auto written = std::make_shared<qint64>(0);

    QObject::connect(reply, &QIODevice::readyRead, context, [reply, file, status, written] {
        const int code = status();
        // error bodies are never written anywhere
        if (code < 200 || code >= 300) {
            reply->skip(reply->bytesAvailable());
            return;
        }
        const QByteArray bytes = reply->readAll();
        if (file->write(bytes) != bytes.size())
            reply->abort();
        *written += bytes.size();
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, context, [onProgress](qint64 received, qint64 total) {
        if (total > 0 && onProgress)
            onProgress(double(received) / double(total));
    });
    QObject::connect(reply, &QNetworkReply::finished, context,
                     [reply, file, status, written, fail, promise, destination] {
        reply->deleteLater();
        const int code = status();
        if (code != 0 && (code < 200 || code >= 300)) {
            file->cancelWriting();
            fail(QStringLiteral("The server answered with HTTP status %1.").arg(code));
            return;
        }
        if (reply->error() != QNetworkReply::NoError) {
            file->cancelWriting();
            fail(file->error() != QFileDevice::NoError
                     ? QStringLiteral("Could not write %1: %2").arg(destination, file->errorString())
                     : reply->errorString());
            return;
        }
        const QByteArray rest = reply->readAll();
        file->write(rest);
        *written += rest.size();
        // a connection closed early is not always reported as an error
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (announced.isValid() && announced.toLongLong() != *written) {
            file->cancelWriting();
            fail(QStringLiteral("The connection closed before the whole file arrived."));
            return;
        }
        if (!file->commit()) {
            fail(QStringLiteral("Could not write %1: %2").arg(destination, file->errorString()));
            return;
        }
        promise->finish();
    });
    // a context gone before the end abandons the transfer and its file
    QObject::connect(context, &QObject::destroyed, reply, [reply, fail] {
        fail(QStringLiteral("cancelled"));
        reply->abort();
    });
    return promise->future();
}

} // namespace FileDownload
