#pragma once

#include <QFuture>
#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>

// Downloads the HD voice pack (a speech model and its vocoder) into a
// directory of its own and tells whether it is installed. Nothing speaks
// with these files yet. Main thread only.
class F5TTSService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isDownloaded READ isDownloaded NOTIFY isDownloadedChanged)
    Q_PROPERTY(bool isDownloading READ isDownloading NOTIFY isDownloadingChanged)
    Q_PROPERTY(double downloadProgress READ downloadProgress NOTIFY downloadProgressChanged)

public:
    static inline const QString vocoderFileName = QStringLiteral("vocos.bin");
    static inline const QString modelFileName = QStringLiteral("f5tts_base.safetensors");
    static constexpr double vocoderWeight = 0.1;
    static constexpr double modelWeight = 0.9;

    struct Sources {
        QUrl vocoder;
        QUrl model;
        // Both files below one model-hosting address.
        static Sources under(const QUrl &host);
        static Sources defaults();
    };

    // voicePackDirectory is created here when missing.
    explicit F5TTSService(const QString &voicePackDirectory, Sources sources = Sources::defaults(),
                          QObject *parent = nullptr);
    ~F5TTSService() override;

    // The application's instance: the one installed, else one built on
    // first use in the models directory.
    static F5TTSService &shared();
    static void setShared(F5TTSService *service);

    bool isDownloaded() const { return m_isDownloaded; }
    bool isDownloading() const { return m_isDownloading; }
    double downloadProgress() const { return m_downloadProgress; }

    QString voicePackDirectory() const { return m_directory; }
    // local paths of the two pack files
    QString vocoderFileURL() const;
    QString modelFileURL() const;

    // Finishes when the pack is installed, or when the download failed
    // (logged, both files removed) or was refused because one runs.
    QFuture<void> downloadVoicePack();
    void refreshDownloadState();

signals:
    void isDownloadedChanged();
    void isDownloadingChanged();
    void downloadProgressChanged();

private:
    QFuture<void> downloadFile(const QUrl &source, const QString &destination, double weight);
    void setIsDownloaded(bool value);
    void setIsDownloading(bool value);
    void setDownloadProgress(double value);

    QString m_directory;
    Sources m_sources;
    bool m_isDownloaded = false;
    bool m_isDownloading = false;
    double m_downloadProgress = 0;
    QNetworkAccessManager m_network;
};
