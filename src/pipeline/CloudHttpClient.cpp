#include "CloudHttpClient.h"

#include "pipeline/CloudApiSettings.h"
#include "support/MonotonicClock.h"
#include "support/TextUtils.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPromise>
#include <QStringDecoder>

#include <memory>

namespace {
// Errors that Qt derives from an HTTP status are not failures of the transfer:
// their status and body are the reply.
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    return (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
           || error == QNetworkReply::ProtocolFailure;
}
} // namespace

CloudHttpClient::CloudHttpClient(QNetworkAccessManager &network)
    : m_network(network)
{
}

QFuture<CloudHttpReply> CloudHttpClient::post(const QUrl &url, const QString &token, const QByteArray &contentType,
                                              const QByteArray &body, std::chrono::milliseconds timeout,
                                              std::optional<Deadline> deadline)
{
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    request.setTransferTimeout(int(timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);

    auto promise = std::make_shared<QPromise<CloudHttpReply>>();
    promise->start();
    QFuture<CloudHttpReply> future = promise->future();

    QNetworkReply *reply = m_network.post(request, body);
    auto outcome = std::make_shared<CloudHttpReply::Outcome>(CloudHttpReply::Outcome::received);
    auto pastDeadline = std::make_shared<std::optional<CloudNetworkError>>();

    if (deadline) {
        const qint64 seconds = std::chrono::ceil<std::chrono::seconds>(deadline->after).count();
        deadline->clock.callAfter(deadline->after, reply, [reply, pastDeadline, seconds] {
            if (reply->isFinished())
                return;
            pastDeadline->emplace(
                QStringLiteral("The cloud service did not answer within %1 seconds.").arg(seconds));
            reply->abort();
        });
    }

    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, outcome, url](const QUrl &target) {
        if (CloudApiSettings::isSameOrigin(url, target)) {
            emit reply->redirectAllowed();
            return;
        }
        *outcome = CloudHttpReply::Outcome::redirectRefused;
        reply->abort();
    });
    const auto cutWhenTooLarge = [reply, outcome](qint64 received, qint64 total) {
        if (received > maxReplyBytes || total > maxReplyBytes) {
            *outcome = CloudHttpReply::Outcome::tooLarge;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, cutWhenTooLarge);
    // Progress is told at most every 100 ms: a body that comes at once and
    // then stalls would pass unseen, so what arrives is counted too.
    QObject::connect(reply, &QNetworkReply::readyRead, reply,
                     [reply, cutWhenTooLarge] { cutWhenTooLarge(reply->bytesAvailable(), -1); });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, promise, outcome, pastDeadline] {
        reply->deleteLater();
        if (*pastDeadline) {
            promise->setException(**pastDeadline);
            promise->finish();
            return;
        }
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        CloudHttpReply result;
        result.outcome = *outcome;
        result.statusCode = status.isValid() ? status.toInt() : 0;
        if (result.outcome == CloudHttpReply::Outcome::received) {
            if (isTransportFailure(reply->error())) {
                promise->setException(CloudNetworkError(reply->errorString()));
                promise->finish();
                return;
            }
            if (status.isValid())
                result.body = reply->readAll();
            else
                result.outcome = CloudHttpReply::Outcome::notHttp;
        }
        promise->addResult(result);
        promise->finish();
    });
    return future;
}

QString CloudHttpClient::errorMessage(const QByteArray &body)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(body);
    if (decoder.hasError())
        return QStringLiteral("Unknown error");
    return TextUtils::firstGraphemes(text, maxMessageCharacters);
}

QJsonObject CloudHttpClient::jsonObject(const QByteArray &body)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw CloudReplyFormatError(parseError.errorString());
    if (!document.isObject())
        throw CloudReplyFormatError(QStringLiteral("not a JSON object"));
    return document.object();
}
