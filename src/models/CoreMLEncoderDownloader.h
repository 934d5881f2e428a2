#pragma once

#include "support/FreeSpace.h"
#include "support/FutureWatch.h"
#include "support/SerialExecutor.h"

#include <QFuture>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <memory>
#include <optional>

class ModelManager;

// Makes sure every installed Whisper model has its compiled encoder
// directory beside it: downloads the zipped encoder and unpacks it in place.
// Lives on the main thread; the application runs a fetch once per launch.
class CoreMLEncoderDownloader : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isDownloading READ isDownloading NOTIFY isDownloadingChanged)
    Q_PROPERTY(QString activeModel READ activeModel NOTIFY activeModelChanged)

public:
    struct Encoder {
        QString modelFile;
        QString encoderName;
        QUrl archiveURL;
    };

    // The two Whisper models of the catalogue and their encoder archives.
    static const QList<Encoder> &defaultEncoders();
    // The encoder directory of a model file of defaultEncoders().
    static std::optional<QString> encoderNameFor(const QString &modelFile);
    // The directory whisper.cpp looks for: the model file without ".bin" and
    // without a quantisation suffix such as "-q5_0", plus "-encoder.mlmodelc".
    static QString encoderDirectoryName(const QString &modelFile);

    struct Limits {
        // The large encoder's archive is some 1.2 GB and unpacks to some 1.3 GB.
        qint64 archiveBytes = 2'000'000'000;
        // On disk. Unpacking also stops short of the free-space margin.
        qint64 unpackedBytes = 3'000'000'000;
        // Files and folders: a compiled encoder holds a handful.
        qint64 unpackedEntries = 4096;
    };

    // Works in the manager's container models directory, within the room
    // `freeSpace` reports there; tells the manager why a fetch failed where
    // the next launch would fail alike.
    explicit CoreMLEncoderDownloader(ModelManager &modelManager, QList<Encoder> encoders = defaultEncoders(),
                                     const FreeSpace &freeSpace = FreeSpace::system(), QObject *parent = nullptr);
    // Stops an unpacking under way and waits for it to let go of its files.
    ~CoreMLEncoderDownloader() override;

    void setLimits(Limits limits) { m_limits = limits; }

    bool isDownloading() const { return m_isDownloading; }
    QString activeModel() const { return m_activeModel; }

    // Fetches the encoder of every Whisper model installed without one;
    // finishes when every entry has been looked at. Never fails.
    QFuture<void> downloadMissingEncoders();
    // Downloads the archive (its size announced and within the limits),
    // unpacks it into a staging directory off the main thread and moves the
    // encoder into `directory`. Nothing is left behind on failure.
    QFuture<void> downloadAndInstall(const QUrl &url, const QString &directory, const QString &encoderName);

signals:
    void isDownloadingChanged();
    void activeModelChanged();

private:
    QFuture<void> fetchFrom(qsizetype index, const QString &directory);
    void setIsDownloading(bool value);
    void setActiveModel(const QString &value);

    ModelManager &m_modelManager;
    QList<Encoder> m_encoders;
    const FreeSpace &m_freeSpace;
    Limits m_limits;
    bool m_isDownloading = false;
    QString m_activeModel;
    QNetworkAccessManager m_network;
    std::shared_ptr<std::atomic<bool>> m_stopping = std::make_shared<std::atomic<bool>>(false);
    // Every .then() on this object waits through it. Declared before the
    // unpacker, so that a stopped unpacking has let go of its files before
    // its chain is cancelled and cleans up after it.
    Futures::FollowedFutures m_followed;
    SerialExecutor m_unpacker{QStringLiteral("encoder unpacking")};
};
