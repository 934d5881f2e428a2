#pragma once

#include "support/DescribedError.h"

#include <QNetworkReply>

// A transfer that broke off: the connection failed, timed out or was cut.
class TransferError : public DescribedErrorOf<TransferError> {
public:
    TransferError(QNetworkReply::NetworkError code, QString description)
        : DescribedErrorOf(std::move(description))
        , m_code(code)
    {
    }

    static TransferError timedOut() { return {QNetworkReply::TimeoutError, QStringLiteral("The request timed out.")}; }
    static TransferError cancelled() { return {QNetworkReply::OperationCanceledError, QStringLiteral("cancelled")}; }
    static TransferError cutShort()
    {
        return {QNetworkReply::RemoteHostClosedError,
                QStringLiteral("The connection closed before the whole file arrived.")};
    }
    static TransferError unsupportedURL()
    {
        return {QNetworkReply::ProtocolUnknownError, QStringLiteral("unsupported URL")};
    }

    QNetworkReply::NetworkError code() const { return m_code; }
    // Bad or unsupported addresses and cancellation: trying again cannot help.
    bool isPermanent() const
    {
        return m_code == QNetworkReply::ProtocolUnknownError || m_code == QNetworkReply::ProtocolInvalidOperationError
               || m_code == QNetworkReply::OperationCanceledError;
    }

private:
    QNetworkReply::NetworkError m_code;
};
