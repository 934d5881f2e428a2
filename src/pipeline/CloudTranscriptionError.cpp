#include "CloudTranscriptionError.h"

CloudTranscriptionError::CloudTranscriptionError(Kind kind, const QString &description, int statusCode,
                                                 QString message)
    : DescribedErrorOf(description)
    , m_kind(kind)
    , m_statusCode(statusCode)
    , m_message(std::move(message))
{
}

CloudTranscriptionError CloudTranscriptionError::apiError(int statusCode, const QString &message)
{
    return {Kind::apiError, QStringLiteral("Transcription error (%1): %2").arg(QString::number(statusCode), message), statusCode,
            message};
}

CloudTranscriptionError CloudTranscriptionError::notAuthorized()
{
    return {Kind::notAuthorized,
            QStringLiteral("Cloud transcription is not authorized. Check the cloud API token in the settings.")};
}

CloudTranscriptionError CloudTranscriptionError::rateLimited()
{
    return {Kind::rateLimited, QStringLiteral("You've made too many requests. Please wait a moment and try again.")};
}

CloudTranscriptionError CloudTranscriptionError::serviceUnavailable()
{
    return {Kind::serviceUnavailable,
            QStringLiteral("Cloud transcription is temporarily unavailable. Please try again later or switch to an "
                           "on-device model.")};
}

CloudTranscriptionError CloudTranscriptionError::invalidResponse()
{
    return {Kind::invalidResponse, QStringLiteral("Invalid response from transcription service.")};
}

CloudTranscriptionError CloudTranscriptionError::invalidBaseURL(const QString &description)
{
    return {Kind::invalidBaseURL, description};
}

CloudTranscriptionError CloudTranscriptionError::insecureBaseURL(const QString &description)
{
    return {Kind::insecureBaseURL, description};
}
