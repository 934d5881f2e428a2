#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The address and bearer token every cloud call uses, read from the user's
// settings on each call (nothing in the application writes them).
namespace CloudApiSettings {

inline const QString baseUrlKey = QStringLiteral("brv_api_base_url");
inline const QString tokenKey = QStringLiteral("brv_auth_token");
inline const QString defaultBaseUrl = QStringLiteral("https://api.tavrune.app/v1");

// The stored token when it is usable: present, not empty, and on one line
// (a line break would let it inject headers).
std::optional<QString> bearerToken();

// Where a cloud request may go, or why it may not be sent.
struct Endpoint {
    enum class Problem { none, invalidBaseUrl, insecureBaseUrl };
    QUrl url;
    Problem problem = Problem::none;
    QString problemDescription() const;
};

// The base URL with one path component appended. The token travels only over
// https, or plain http to this machine.
Endpoint endpoint(const QString &pathComponent);

bool isLoopbackHost(const QString &host);
// Whether a redirect may carry the token along: same scheme, host and port.
bool isSameOrigin(const QUrl &a, const QUrl &b);

} // namespace CloudApiSettings
