#pragma once

#include "support/DescribedError.h"

#include <QByteArray>
#include <QFuture>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

class MonotonicClock;
class QNetworkAccessManager;

// The request never reached a usable reply (refused, timed out, dropped...).
class CloudNetworkError : public DescribedErrorOf<CloudNetworkError> {
public:
    using DescribedErrorOf::DescribedErrorOf;
};

// A reply body that does not hold the expected JSON.
class CloudReplyFormatError : public DescribedErrorOf<CloudReplyFormatError> {
public:
    explicit CloudReplyFormatError(const QString &detail)
        : DescribedErrorOf(QStringLiteral("The reply of the cloud service could not be read: %1").arg(detail))
    {
    }
};

struct CloudHttpReply {
    enum class Outcome {
        received,        // an HTTP status and the whole body
        notHttp,         // finished without an HTTP status
        tooLarge,        // the body passed the size cap; abandoned
        redirectRefused, // a redirect to another origin; not followed
    };
    Outcome outcome = Outcome::received;
    int statusCode = 0;
    QByteArray body;
};

// One authorised POST to the cloud API. Redirects are followed only within the
// same origin so the token never reaches another host, and a reply is read to
// at most maxReplyBytes. Transport failures, and a passed deadline, end the
// future with CloudNetworkError.
class CloudHttpClient {
public:
    static constexpr qint64 maxReplyBytes = 1024 * 1024;
    static constexpr qsizetype maxMessageCharacters = 200;

    // A limit on the whole exchange. The transfer timeout alone starts again
    // with every byte, so a server sending a byte now and then never meets it.
    struct Deadline {
        MonotonicClock &clock;
        std::chrono::milliseconds after;
    };

    explicit CloudHttpClient(QNetworkAccessManager &network);

    // timeout: the longest silence of the transfer.
    QFuture<CloudHttpReply> post(const QUrl &url, const QString &token, const QByteArray &contentType,
                                 const QByteArray &body, std::chrono::milliseconds timeout,
                                 std::optional<Deadline> deadline = std::nullopt);

    // A server's error body as text fit for messages and logs: UTF-8 only,
    // at most maxMessageCharacters characters.
    static QString errorMessage(const QByteArray &body);
    // The body as a JSON object; throws CloudReplyFormatError.
    static QJsonObject jsonObject(const QByteArray &body);

private:
    QNetworkAccessManager &m_network;
};
