#include "ModelManager.h"

#include "platform/Paths.h"
#include "platform/Platform.h"
#include "support/Log.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

ModelManager::ModelManager(QObject *parent)
    : QObject(parent)
{
}

QString ModelManager::modelsDirectory() const
{
    Paths &paths = Platform::instance().paths();
    const QString base = paths.appGroupContainer().value_or(paths.applicationSupportDirectory());
    return QDir(base).filePath(defaultModelsDirectoryName);
}

bool ModelManager::isInstalled(const ModelDescriptor &model)
{
    const QByteArray path = QFile::encodeName(QDir(modelsDirectory()).filePath(model.id));
    struct stat entry;
    if (::lstat(path.constData(), &entry) != 0)
        return false;
    struct stat target;
    // A link to an unmounted disk, or a file we may not inspect: the model is
    // missing for now, but the file is the user's and stays.
    if (::stat(path.constData(), &target) != 0)
        return false;
    if (!S_ISREG(target.st_mode))
        return false;
    const qint64 size = target.st_size;
    if (size >= minimumModelBytes)
        return true;
    logLine("ModelManager", QStringLiteral("Rejecting %1 — file too small (%2 bytes), deleting corrupt file")
                                .arg(model.id)
                                .arg(size));
    QFile::remove(QFile::decodeName(path));
    return false;
}

void ModelManager::refreshInstalledModels()
{
    QSet<QString> installed;
    for (const ModelDescriptor &model : ModelDescriptor::all()) {
        if (isInstalled(model))
            installed.insert(model.id);
    }
    if (installed == m_installedModelIDs)
        return;
    m_installedModelIDs = installed;
    emit installedModelIDsChanged();
}

void ModelManager::setIsDownloading(bool value)
{
    if (m_isDownloading == value)
        return;
    m_isDownloading = value;
    emit isDownloadingChanged();
}

void ModelManager::setDownloadProgress(double value)
{
    if (m_downloadProgress == value)
        return;
    m_downloadProgress = value;
    emit downloadProgressChanged();
}

void ModelManager::setDownloadingModelID(const std::optional<QString> &value)
{
    if (m_downloadingModelID == value)
        return;
    m_downloadingModelID = value;
    emit downloadingModelIDChanged();
}

void ModelManager::setDownloadStatusText(const std::optional<QString> &value)
{
    if (m_downloadStatusText == value)
        return;
    m_downloadStatusText = value;
    emit downloadStatusTextChanged();
}

void ModelManager::resetDownloadState()
{
    setIsDownloading(false);
    setDownloadProgress(0);
    setDownloadingModelID(std::nullopt);
    setDownloadStatusText(std::nullopt);
}
