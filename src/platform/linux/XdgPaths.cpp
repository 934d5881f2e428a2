#include "XdgPaths.h"

#include <QDir>
#include <QStandardPaths>

namespace {
QString dataHome()
{
    const QString env = qEnvironmentVariable("XDG_DATA_HOME");
    if (!env.isEmpty() && QDir::isAbsolutePath(env))
        return QDir::cleanPath(env);
    return QDir::homePath() + QStringLiteral("/.local/share");
}
} // namespace

std::optional<QString> XdgPaths::appGroupContainer()
{
    const QString path = dataHome() + QStringLiteral("/tavrune");
    if (!QDir().mkpath(path))
        return std::nullopt;
    return path;
}

QString XdgPaths::applicationSupportDirectory()
{
    return dataHome();
}

QString XdgPaths::documentsDirectory()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}
