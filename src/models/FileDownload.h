#pragma once

#include "models/DownloadAcceptance.h"
#include "support/DescribedError.h"

#include <QFuture>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

class QNetworkAccessManager;
class QObject;

// Why a fetch failed. status() is the HTTP status the server answered
// with when it was not a file, else 0.
class FileDownloadError : public DescribedErrorOf<FileDownloadError> {
public:
    explicit FileDownloadError(QString description, int status = 0)
        : DescribedErrorOf(std::move(description))
        , m_status(status)
    {
    }
    int status() const { return m_status; }

private:
    int m_status;
};

// Fetches one file over HTTP(S). The body goes to a temporary file beside
// the destination, which replaces the destination only when the acceptance
// takes it: the whole announced body, of the right kind. Otherwise nothing is
// left behind. A server silent for idleTimeout is given up. Runs on the
// context's thread.
namespace FileDownload {

// Fraction of the body received, 0...1; only called when the size is known.
using Progress = std::function<void(double fraction)>;

// Finishes when the file is in place; fails with a FileDownloadError.
QFuture<void> fetch(QNetworkAccessManager &network, const QUrl &source, const QString &destination,
                    const DownloadAcceptance &acceptance, Progress onProgress, QObject *context,
                    std::chrono::milliseconds idleTimeout = DownloadAcceptance::idleTimeout);

} // namespace FileDownload
