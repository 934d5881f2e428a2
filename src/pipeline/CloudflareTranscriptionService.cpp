#include "CloudflareTranscriptionService.h"

#include "pipeline/CloudApiSettings.h"
#include "pipeline/CloudHttpClient.h"
#include "pipeline/CloudTranscriptionError.h"
#include "pipeline/CloudUsageTracker.h"
#include "pipeline/WavEncoder.h"
#include "support/Log.h"
#include "support/MonotonicClock.h"
#include "support/TextUtils.h"

#include <QNetworkAccessManager>
#include <QUuid>

#include <cmath>

using namespace std::chrono_literals;

namespace {
constexpr char kTag[] = "CloudASR";
constexpr auto kRequestTimeout = 120s;
constexpr auto kDeadlineBase = 30s;

template <typename T>
QFuture<T> failed(const QException &error)
{
    return QtFuture::makeExceptionalFuture<T>(error);
}

struct CloudTarget {
    QString token;
    QUrl url;
};

// Where the upload goes and with which token; throws when the settings forbid it.
CloudTarget cloudTarget()
{
    const std::optional<QString> token = CloudApiSettings::bearerToken();
    if (!token)
        throw CloudTranscriptionError::notAuthorized();
    const CloudApiSettings::Endpoint endpoint = CloudApiSettings::endpoint(QStringLiteral("transcribe"));
    switch (endpoint.problem) {
    case CloudApiSettings::Endpoint::Problem::none:
        break;
    case CloudApiSettings::Endpoint::Problem::invalidBaseUrl:
        throw CloudTranscriptionError::invalidBaseURL(endpoint.problemDescription());
    case CloudApiSettings::Endpoint::Problem::insecureBaseUrl:
        throw CloudTranscriptionError::insecureBaseURL(endpoint.problemDescription());
    }
    return {*token, endpoint.url};
}

double requiredNumber(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        throw CloudReplyFormatError(QStringLiteral("\"%1\" is missing or not a number").arg(key));
    return value.toDouble();
}
} // namespace

const QString CloudflareTranscriptionService::modelName = QStringLiteral("Cloud AI (Whisper Large v3 Turbo)");
const QString CloudflareTranscriptionService::sendingNotice = QStringLiteral("Sending to cloud for transcription...");

CloudflareTranscriptionService::ProxyResponse CloudflareTranscriptionService::ProxyResponse::fromJson(const QByteArray &json)
{
    const QJsonObject object = CloudHttpClient::jsonObject(json);

    ProxyResponse response;
    const QJsonValue success = object.value(QStringLiteral("success"));
    if (!success.isBool())
        throw CloudReplyFormatError(QStringLiteral("\"success\" is missing or not a boolean"));
    response.success = success.toBool();

    const QJsonValue text = object.value(QStringLiteral("text"));
    if (text.isString())
        response.text = text.toString();
    else if (!text.isUndefined() && !text.isNull())
        throw CloudReplyFormatError(QStringLiteral("\"text\" is not a string"));

    const QJsonValue usage = object.value(QStringLiteral("usage"));
    if (usage.isObject()) {
        const QJsonObject figures = usage.toObject();
        response.usage = ProxyUsage{requiredNumber(figures, QStringLiteral("minutes_used")),
                                    requiredNumber(figures, QStringLiteral("minutes_remaining"))};
    } else if (!usage.isUndefined() && !usage.isNull()) {
        throw CloudReplyFormatError(QStringLiteral("\"usage\" is not an object"));
    }
    return response;
}

CloudflareTranscriptionService::CloudflareTranscriptionService(MonotonicClock &clock, QNetworkAccessManager *network,
                                                               QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_network(network ? network : new QNetworkAccessManager(this))
{
    m_preferredASRModel = ASRModelPreference::cloudflareWhisper;
}

CloudflareTranscriptionService::CloudflareTranscriptionService(QNetworkAccessManager *network, QObject *parent)
    : CloudflareTranscriptionService(MonotonicClock::system(), network, parent)
{
}

std::chrono::milliseconds CloudflareTranscriptionService::replyDeadline(double audioSeconds)
{
    return kDeadlineBase + std::chrono::milliseconds(qint64(std::ceil(audioSeconds * 1000)));
}

QFuture<void> CloudflareTranscriptionService::start(LanguageOption language)
{
    ++m_session;
    m_language = language;
    m_audioFrames.clear();
    m_lastAudioDurationSeconds = 0;
    m_minutesNotCountedByServer = 0;
    // Refuse unusable settings now rather than after the user has spoken.
    try {
        cloudTarget();
    } catch (const CloudTranscriptionError &error) {
        return failed<void>(error);
    }
    return QtFuture::makeReadyFuture();
}

QFuture<void> CloudflareTranscriptionService::appendAudioFrames(const AudioSamples &frames)
{
    m_audioFrames.append(frames);
    if (m_audioFrames.size() > maxSamples)
        m_audioFrames.remove(0, m_audioFrames.size() - maxSamples);
    return QtFuture::makeReadyFuture();
}

QFuture<QString> CloudflareTranscriptionService::stopAndFinalize()
{
    if (m_audioFrames.isEmpty())
        return QtFuture::makeReadyFuture(QString());
    if (m_onPartialText)
        m_onPartialText(sendingNotice);

    m_minutesNotCountedByServer = 0;
    m_lastAudioDurationSeconds = double(m_audioFrames.size()) / kSampleRate;
    const QByteArray wav = WavEncoder::makeWAVData(m_audioFrames, kSampleRate);

    CloudTarget target;
    try {
        target = cloudTarget();
    } catch (const CloudTranscriptionError &error) {
        return failed<QString>(error);
    }
    if (!m_network)
        return failed<QString>(CloudNetworkError(QStringLiteral("The network is not available.")));

    const QByteArray boundary = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
    const QString language = LanguageOptions::code(m_language);
    const QByteArray body = makeMultipartBody(wav, language, boundary);
    logLine(kTag, QStringLiteral("Sending %1 seconds of audio (%2 bytes WAV) language=%3")
                      .arg(QString::number(m_lastAudioDurationSeconds, 'f', 1), QString::number(wav.size()), language));

    const quint64 session = m_session;
    const CloudHttpClient::Deadline deadline{m_clock, replyDeadline(m_lastAudioDurationSeconds)};
    return m_followed
        .follow(CloudHttpClient(*m_network)
                    .post(target.url, target.token, "multipart/form-data; boundary=" + boundary, body,
                          kRequestTimeout, deadline))
        .then(this, [this, session](const CloudHttpReply &reply) { return textFromReply(reply, session); });
}

double CloudflareTranscriptionService::minutesNotCountedByServer() const
{
    return m_minutesNotCountedByServer;
}

QByteArray CloudflareTranscriptionService::makeMultipartBody(const QByteArray &wav, const QString &languageCode,
                                                             const QByteArray &boundary)
{
    const QByteArray delimiter = "--" + boundary + "\r\n";
    QByteArray body;
    body.reserve(wav.size() + 512);
    body += delimiter;
    body += "Content-Disposition: form-data; name=\"audio\"; filename=\"recording.wav\"\r\n";
    body += "Content-Type: audio/wav\r\n\r\n";
    body += wav;
    body += "\r\n";
    body += delimiter;
    body += "Content-Disposition: form-data; name=\"language\"\r\n\r\n";
    body += languageCode.toUtf8() + "\r\n";
    body += "--" + boundary + "--\r\n";
    return body;
}

QString CloudflareTranscriptionService::textFromReply(const CloudHttpReply &reply, quint64 session)
{
    switch (reply.outcome) {
    case CloudHttpReply::Outcome::received:
        break;
    case CloudHttpReply::Outcome::notHttp:
    case CloudHttpReply::Outcome::tooLarge:
        throw CloudTranscriptionError::invalidResponse();
    case CloudHttpReply::Outcome::redirectRefused:
        logLine(kTag, QStringLiteral("Refused a redirect to another host (status %1)").arg(reply.statusCode));
        throw CloudTranscriptionError::apiError(reply.statusCode,
                                                QStringLiteral("Redirected to another host; not followed."));
    }

    switch (reply.statusCode) {
    case 200:
        break;
    case 401:
        throw CloudTranscriptionError::notAuthorized();
    case 429:
        throw CloudTranscriptionError::rateLimited();
    case 503:
        throw CloudTranscriptionError::serviceUnavailable();
    default: {
        const QString message = CloudHttpClient::errorMessage(reply.body);
        logLine(kTag, QStringLiteral("Error %1: %2").arg(QString::number(reply.statusCode), message));
        throw CloudTranscriptionError::apiError(reply.statusCode, message);
    }
    }

    const ProxyResponse response = ProxyResponse::fromJson(reply.body);
    if (!response.success)
        throw CloudTranscriptionError::apiError(200, QStringLiteral("Server returned success=false"));
    const QString text = TextUtils::trimmed(response.text.value_or(QString()));
    logLine(kTag, QStringLiteral("Success: %1 chars").arg(TextUtils::graphemeCount(text)));

    if (session == m_session) {
        m_audioFrames.clear();
        m_minutesNotCountedByServer = response.usage ? 0.0 : m_lastAudioDurationSeconds / 60.0;
    }
    if (response.usage)
        CloudUsageTracker::shared().updateFromServer(response.usage->minutesUsed, response.usage->minutesRemaining);
    return text;
}
