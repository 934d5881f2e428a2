#include "XdgPaths.h"

#include "support/PrivateFiles.h"

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

QString containerPath()
{
    return dataHome() + QStringLiteral("/tavrune");
}
} // namespace

// The profile lives here: private, and tightened if an older version left it open.
std::optional<QString> XdgPaths::appGroupContainer()
{
    if (!PrivateFiles::ensureFolder(containerPath()).isEmpty())
        return std::nullopt;
    return containerPath();
}

QString XdgPaths::containerProblem()
{
    return PrivateFiles::ensureFolder(containerPath());
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
