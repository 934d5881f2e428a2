#pragma once

#include "models/DownloadAcceptance.h"
#include "models/ModelDescriptor.h"
#include "support/ExclusiveFileLock.h"
#include "support/MonotonicClock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QPromise>
#include <QTimer>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class ModelManager;
class QNetworkAccessManager;
class QNetworkReply;

// Fetches one catalogue model into the models directory. Bytes go to
// "<id>.partial", each new attempt asks for the rest with a Range request,
// attempts that made real progress are retried at once and others after a
// growing wait, and only a complete file that DownloadAcceptance accepts, and
// that passes the manager's check of model files, is moved under the model's
// name. Progress is published through the given ModelManager. Lives
// on the main thread; one object per download.
class ModelDownloadService : public QObject {
    Q_OBJECT

public:
    // Makes one service per download.
    using Factory = std::function<std::unique_ptr<ModelDownloadService>()>;

    struct Timeouts {
        // An attempt that receives nothing for this long is dropped.
        std::chrono::milliseconds request{DownloadAcceptance::idleTimeout};
        // No attempt lasts longer than this.
        std::chrono::milliseconds resource{std::chrono::hours(2)};
    };

    static constexpr int maxRetries = 10;

    // The clock times the waits between attempts.
    explicit ModelDownloadService(MonotonicClock &clock = MonotonicClock::system(), QObject *parent = nullptr);
    ~ModelDownloadService() override;

    // Finishes when the model file is in place; fails with ModelDownloadError,
    // TransferError or another DescribedError.
    QFuture<void> download(const ModelDescriptor &model, ModelManager *manager);

    void setTimeouts(Timeouts timeouts) { m_timeouts = timeouts; }

    // One HTTP attempt; the outcome arrives through the reply's signals.
    void performAttempt(const QUrl &url, const QString &partialFile, qint64 existingBytes);

private:
    void prepareAttemptState();
    void startAttempt();
    void onResponse();
    void onData();
    // Checks the start of a body that begins the file; false to read later or stop.
    bool acceptHead();
    void onFinished();
    void handleAttemptFailure(const std::exception_ptr &error);
    void waitAndRetry(const std::exception_ptr &error);
    void complete();
    // lasting: trying again would meet the same, so the manager keeps the reason
    enum class Ending { transient, lasting };
    void endWithError(const std::exception_ptr &error, Ending ending = Ending::transient);
    void releaseAttempt();
    void rejectAttempt(const std::exception_ptr &error);
    void publishProgress();

    // the download
    QPointer<ModelManager> m_manager;
    ModelDescriptor m_model;
    qint64 m_expectedBytes = -1;
    bool m_isActive = false;
    QString m_destination;
    QString m_partialFile;
    std::optional<QPromise<void>> m_promise;
    std::optional<DownloadAcceptance> m_acceptance;
    int m_consecutiveFailures = 0;
    qint64 m_existingBytes = 0;
    qint64 m_discardedBytes = 0; // size of a partial file just thrown away to start afresh
    MonotonicClock &m_clock;
    Timeouts m_timeouts;

    // the attempt
    QNetworkAccessManager *m_network = nullptr;
    QNetworkReply *m_reply = nullptr;
    QFile m_file;
    ExclusiveFileLock m_partialLock;
    QByteArray m_buffer;
    QTimer m_idleTimer;
    QElapsedTimer m_sinceData;
    QElapsedTimer m_sincePublish;
    QTimer m_resourceTimer;
    qint64 m_bytesWrittenTotal = 0;
    qint64 m_bytesThisAttempt = 0;
    qint64 m_writebackStart = 0; // file offset from which writeback has not been started
    bool m_sentRangeRequest = false;
    bool m_responseHandled = false;
    bool m_timedOut = false;
    qint64 m_expectedEnd = -1; // where the server said the body ends; -1 unknown
    qint64 m_expectedTotal = -1; // the whole file's size as the server announced it
    bool m_checkHead = false; // the body begins the file and is yet to be recognised
    std::exception_ptr m_attemptError; // the attempt was refused or cut off by us
    bool m_fatal = false;              // ...and must not be retried
    bool m_restartFresh = false;       // the server cannot resume this file
};
