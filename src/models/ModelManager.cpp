#include "ModelManager.h"

#include "pipeline/WhisperModelFile.h"
#include "platform/Paths.h"
#include "support/Log.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace {
// The size of the regular file at path, following links; none for anything
// else. A link to an unmounted disk, or a file we may not inspect, has none:
// the model is missing for now, but the file is the user's and stays.
std::optional<qint64> regularFileSize(const QByteArray &path)
{
    struct stat target;
    if (::stat(path.constData(), &target) != 0 || !S_ISREG(target.st_mode))
        return std::nullopt;
    return qint64(target.st_size);
}
} // namespace

ModelManager::ModelManager(Paths &paths, WhisperModelFamily whisperModels, QObject *parent)
    : QObject(parent)
    , m_paths(paths)
    , m_whisperModels(std::move(whisperModels))
{
}

QString ModelManager::modelsDirectory() const
{
    const QString base = m_paths.appGroupContainer().value_or(m_paths.applicationSupportDirectory());
    return QDir(base).filePath(defaultModelsDirectoryName);
}

std::optional<QString> ModelManager::containerModelsDirectory() const
{
    const std::optional<QString> container = m_paths.appGroupContainer();
    if (!container)
        return std::nullopt;
    return QDir(*container).filePath(defaultModelsDirectoryName);
}

bool ModelManager::hasModelFile(const ModelDescriptor &model) const
{
    const std::optional<qint64> size = regularFileSize(QFile::encodeName(QDir(modelsDirectory()).filePath(model.id)));
    return size && *size >= minimumModelBytes;
}

bool ModelManager::isInstalled(const ModelDescriptor &model)
{
    const QByteArray path = QFile::encodeName(QDir(modelsDirectory()).filePath(model.id));
    const std::optional<qint64> size = regularFileSize(path);
    if (!size)
        return false;
    if (*size < minimumModelBytes) {
        logLine("ModelManager", QStringLiteral("Rejecting %1 — file too small (%2 bytes), deleting corrupt file")
                                    .arg(model.id)
                                    .arg(*size));
        QFile::remove(QFile::decodeName(path));
        return false;
    }
    // A damaged or foreign speech model would fail every dictation: count it
    // missing so that it is fetched again (the download replaces it).
    if (const QString problem = problemWithModelFile(model, QFile::decodeName(path)); !problem.isEmpty()) {
        logLine("ModelManager", QStringLiteral("Rejecting %1 — %2").arg(model.id, problem));
        return false;
    }
    return true;
}

QString ModelManager::problemWithModelFile(const ModelDescriptor &model, const QString &path) const
{
    if (model.task != ModelTask::speechToText)
        return {};
    return problemWithWhisperModelFile(path);
}

QString ModelManager::problemWithWhisperModelFile(const QString &path) const
{
    return WhisperModelFile::problemWith(path, m_whisperModels);
}

void ModelManager::refreshInstalledModels()
{
    QSet<QString> installed;
    for (const ModelDescriptor &model : ModelDescriptor::all()) {
        if (isInstalled(model)) {
            installed.insert(model.id);
            // in place after all: why it failed is no longer news
            setDownloadFailure(model.id, QString());
        }
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

QString ModelManager::downloadFailureText() const
{
    QStringList lines;
    for (const auto &[file, line] : m_downloadFailures)
        lines.append(line);
    return lines.join(QLatin1Char('\n'));
}

void ModelManager::setDownloadFailure(const QString &file, const QString &line)
{
    const QString before = downloadFailureText();
    m_downloadFailures.removeIf([&](const QPair<QString, QString> &failure) { return failure.first == file; });
    if (!line.isEmpty())
        m_downloadFailures.append({file, line});
    if (downloadFailureText() != before)
        emit downloadFailureTextChanged();
}
