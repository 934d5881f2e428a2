#pragma once

#include "models/ModelDescriptor.h"
#include "pipeline/WhisperModelFamily.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>

#include <optional>

class Paths;

// Owns the models directory and the rules for model files, decides which
// catalogue models are installed and carries the observable state of the
// running download. Lives on the main thread.
class ModelManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(QSet<QString> installedModelIDs READ installedModelIDs NOTIFY installedModelIDsChanged)
    Q_PROPERTY(bool isDownloading READ isDownloading WRITE setIsDownloading NOTIFY isDownloadingChanged)
    Q_PROPERTY(double downloadProgress READ downloadProgress WRITE setDownloadProgress NOTIFY downloadProgressChanged)
    Q_PROPERTY(std::optional<QString> downloadingModelID READ downloadingModelID WRITE setDownloadingModelID
                   NOTIFY downloadingModelIDChanged)
    Q_PROPERTY(std::optional<QString> downloadStatusText READ downloadStatusText WRITE setDownloadStatusText
                   NOTIFY downloadStatusTextChanged)
    // Why downloads ended without their files, one line each, the latest last.
    Q_PROPERTY(QString downloadFailureText READ downloadFailureText NOTIFY downloadFailureTextChanged)

public:
    // The directory under the base directory that holds every model file.
    static inline const QString defaultModelsDirectoryName = QStringLiteral("OfflineModels");
    // Files below this size are truncated downloads or error pages.
    static constexpr qint64 minimumModelBytes = 1'000'000;

    // Speech models must be of one of the family's shapes.
    explicit ModelManager(Paths &paths, WhisperModelFamily whisperModels = WhisperModelFamily::published(),
                          QObject *parent = nullptr);

    // The application container, else the per-user data directory, plus the
    // models directory name. Read afresh each time; not created here.
    QString modelsDirectory() const;
    // The models directory of the application container alone, where the
    // compiled encoders live; none without a container.
    std::optional<QString> containerModelsDirectory() const;

    // The model's file is a regular file (or a link to one) of at least
    // minimumModelBytes. Looks only; deletes nothing.
    bool hasModelFile(const ModelDescriptor &model) const;
    // hasModelFile(), and a speech model's file passes the structure check
    // (a failing one is kept until a download replaces it). A file that is
    // too small is deleted.
    bool isInstalled(const ModelDescriptor &model);
    // Why the file at path cannot serve as the model: for a speech model, a
    // damaged file or one of a shape no Whisper model has. Empty when it can.
    QString problemWithModelFile(const ModelDescriptor &model, const QString &path) const;
    // Why the file at path is no Whisper model of the family: a damaged file
    // or one of another shape. Empty when it is one.
    QString problemWithWhisperModelFile(const QString &path) const;
    void refreshInstalledModels();

    QSet<QString> installedModelIDs() const { return m_installedModelIDs; }
    bool isDownloading() const { return m_isDownloading; }
    double downloadProgress() const { return m_downloadProgress; }
    std::optional<QString> downloadingModelID() const { return m_downloadingModelID; }
    std::optional<QString> downloadStatusText() const { return m_downloadStatusText; }

    void setIsDownloading(bool value);
    void setDownloadProgress(double value);
    void setDownloadingModelID(const std::optional<QString> &value);
    void setDownloadStatusText(const std::optional<QString> &value);
    // isDownloading false, progress 0, no model, no status.
    void resetDownloadState();

    QString downloadFailureText() const;
    // Why the download of `file` (a model or an encoder) ended without it, a
    // line naming what failed; an empty line forgets it, as a new try does.
    void setDownloadFailure(const QString &file, const QString &line);

signals:
    void installedModelIDsChanged();
    void isDownloadingChanged();
    void downloadProgressChanged();
    void downloadingModelIDChanged();
    void downloadStatusTextChanged();
    void downloadFailureTextChanged();

private:
    Paths &m_paths;
    const WhisperModelFamily m_whisperModels;
    QSet<QString> m_installedModelIDs;
    bool m_isDownloading = false;
    double m_downloadProgress = 0;
    std::optional<QString> m_downloadingModelID;
    std::optional<QString> m_downloadStatusText;
    QList<QPair<QString, QString>> m_downloadFailures; // file, line; in the order they came
};
