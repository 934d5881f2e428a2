#pragma once

#include "support/DescribedError.h"

#include <QString>

// Why a cloud transcription could not start or finish.
class CloudTranscriptionError : public DescribedErrorOf<CloudTranscriptionError> {
public:
    enum class Kind {
        apiError,
        notAuthorized,
        rateLimited,
        serviceUnavailable,
        invalidResponse,
        invalidBaseURL,
        insecureBaseURL,
    };

    static CloudTranscriptionError apiError(int statusCode, const QString &message);
    static CloudTranscriptionError notAuthorized();
    static CloudTranscriptionError rateLimited();
    static CloudTranscriptionError serviceUnavailable();
    static CloudTranscriptionError invalidResponse();
    // The base URL's own problem text goes along, so there is one wording.
    static CloudTranscriptionError invalidBaseURL(const QString &description);
    static CloudTranscriptionError insecureBaseURL(const QString &description);

    Kind kind() const { return m_kind; }
    // For apiError only.
    int statusCode() const { return m_statusCode; }
    const QString &message() const { return m_message; }

private:
    CloudTranscriptionError(Kind kind, const QString &description, int statusCode = 0, QString message = {});

    Kind m_kind;
    int m_statusCode;
    QString m_message;
};
