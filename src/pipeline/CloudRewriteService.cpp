#include "CloudRewriteService.h"

#include "pipeline/CloudApiSettings.h"
#include "pipeline/CloudHttpClient.h"
#include "support/Log.h"
#include "support/TextUtils.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>

using namespace std::chrono_literals;

namespace {
constexpr char kTag[] = "CloudRewriteService";
constexpr auto kRequestTimeout = 30s;

void logFailure(const QString &description)
{
    logLine(kTag, QStringLiteral("Failed: %1").arg(description));
}
} // namespace

CloudRewriteService::RewriteResponse CloudRewriteService::RewriteResponse::fromJson(const QByteArray &json)
{
    const QJsonObject object = CloudHttpClient::jsonObject(json);
    const QJsonValue success = object.value(QStringLiteral("success"));
    const QJsonValue text = object.value(QStringLiteral("text"));
    if (!success.isBool() || !text.isString())
        throw CloudReplyFormatError(QStringLiteral("expected an object with \"success\" and \"text\""));
    return {success.toBool(), text.toString()};
}

CloudRewriteService::CloudRewriteService(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_network(network ? network : new QNetworkAccessManager(this))
{
}

QFuture<QString> CloudRewriteService::rewrite(const QString &text, RewritePreset preset, LanguageOption language)
{
    const QString trimmed = TextUtils::trimmed(text);
    if (trimmed.isEmpty())
        return QtFuture::makeReadyFuture(QString());

    Job job{trimmed, preset, language, std::make_shared<QPromise<QString>>()};
    job.promise->start();
    QFuture<QString> future = job.promise->future();
    m_queue.push_back(std::move(job));
    if (!m_running)
        runNext();
    return future;
}

void CloudRewriteService::runNext()
{
    if (m_queue.empty()) {
        m_running = false;
        return;
    }
    m_running = true;
    Job job = std::move(m_queue.front());
    m_queue.pop_front();

    const auto finish = [this, job](const QString &result) {
        job.promise->addResult(result);
        job.promise->finish();
        runNext();
    };
    // A failed or dropped request gives back the input; the result reaches
    // this object only while it lives, so going away sends nothing more.
    m_followed
        .follow(send(job)
                    .onCanceled([job] { return job.trimmed; })
                    .onFailed([job](const std::exception &error) {
                        logFailure(QString::fromUtf8(error.what()));
                        return job.trimmed;
                    }))
        .then(this, finish);
}

QFuture<QString> CloudRewriteService::send(const Job &job)
{
    const QString &fallback = job.trimmed;
    const std::optional<QString> token = CloudApiSettings::bearerToken();
    // Rewriting only the head would lose the rest of the text.
    if (!token || TextUtils::graphemeCount(fallback) > maxInputCharacters || !m_network)
        return QtFuture::makeReadyFuture(fallback);
    const CloudApiSettings::Endpoint endpoint = CloudApiSettings::endpoint(QStringLiteral("rewrite"));
    if (endpoint.problem != CloudApiSettings::Endpoint::Problem::none) {
        logFailure(endpoint.problemDescription());
        return QtFuture::makeReadyFuture(fallback);
    }

    const QJsonObject request{{QStringLiteral("text"), fallback},
                              {QStringLiteral("preset"), Enums::toString(job.preset)},
                              {QStringLiteral("language"), LanguageOptions::code(job.language)}};
    const QByteArray body = QJsonDocument(request).toJson(QJsonDocument::Compact);

    return CloudHttpClient(*m_network)
        .post(endpoint.url, *token, "application/json", body, kRequestTimeout)
        .then([fallback](const CloudHttpReply &reply) {
            switch (reply.outcome) {
            case CloudHttpReply::Outcome::received:
                break;
            case CloudHttpReply::Outcome::notHttp:
                return fallback;
            case CloudHttpReply::Outcome::tooLarge:
                logFailure(QStringLiteral("the reply is larger than %1 bytes").arg(CloudHttpClient::maxReplyBytes));
                return fallback;
            case CloudHttpReply::Outcome::redirectRefused:
                logFailure(QStringLiteral("refused a redirect to another host"));
                return fallback;
            }
            if (reply.statusCode != 200)
                return fallback;
            const RewriteResponse response = RewriteResponse::fromJson(reply.body);
            // An empty rewrite of a non-empty text is a broken reply, not a result.
            if (!response.success || TextUtils::trimmed(response.text).isEmpty())
                return fallback;
            return response.text;
        });
}
