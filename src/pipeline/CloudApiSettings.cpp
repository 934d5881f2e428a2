#include "CloudApiSettings.h"

#include "platform/Platform.h"
#include "platform/Settings.h"

#include <QHostAddress>

namespace CloudApiSettings {

std::optional<QString> bearerToken()
{
    const std::optional<QString> token = Platform::instance().settings().string(tokenKey);
    if (!token || token->isEmpty() || token->contains(QLatin1Char('\n')) || token->contains(QLatin1Char('\r')))
        return std::nullopt;
    return token;
}

QString Endpoint::problemDescription() const
{
    switch (problem) {
    case Problem::none:
        break;
    case Problem::invalidBaseUrl:
        return QStringLiteral("The cloud API address is empty or not a valid URL.");
    case Problem::insecureBaseUrl:
        return QStringLiteral("The cloud API address must use https (plain http is allowed only for this computer).");
    }
    return {};
}

Endpoint endpoint(const QString &pathComponent)
{
    const QString stored = Platform::instance().settings().string(baseUrlKey).value_or(defaultBaseUrl);
    QUrl url(stored, QUrl::StrictMode);
    if (stored.isEmpty() || !url.isValid() || url.isRelative() || url.host().isEmpty())
        return {QUrl(), Endpoint::Problem::invalidBaseUrl};

    const QString scheme = url.scheme().toLower();
    const bool secure = scheme == QLatin1String("https")
                        || (scheme == QLatin1String("http") && isLoopbackHost(url.host()));
    if (!secure)
        return {QUrl(), Endpoint::Problem::insecureBaseUrl};

    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + pathComponent);
    return {url, Endpoint::Problem::none};
}

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool isSameOrigin(const QUrl &a, const QUrl &b)
{
    const auto defaultPort = [](const QUrl &url) {
        return url.port(url.scheme().toLower() == QLatin1String("https") ? 443 : 80);
    };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
           && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && defaultPort(a) == defaultPort(b);
}

} // namespace CloudApiSettings
