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
    // Refused before the first byte for want of room on the disk.
    static FileDownloadError noRoom(QString figures)
    {
        FileDownloadError error(std::move(figures));
        error.m_noRoom = true;
        return error;
    }
    int status() const { return m_status; }
    bool isNoRoom() const { return m_noRoom; }

private:
    int m_status;
    bool m_noRoom = false;
};

// Fetches one file over HTTP(S). The body goes to a temporary file beside
// the destination, which replaces the destination only when the acceptance
// takes it: the whole announced body, of the right kind. Otherwise nothing is
// left behind. A server silent for idleTimeout is given up. Runs on the
// context's thread.
namespace FileDownload {

// Fraction of the body received, 0...1; only called when the size is known.
using Progress = std::function<void(double fraction)>;
// Why the announced size does not fit on the disk, asked before the first
// byte is kept; empty when it does. None: the file alone, with the margin
// DownloadAcceptance::checkRoom() keeps.
using RoomCheck = std::function<QString(qint64 total)>;

// Finishes when the file is in place; fails with a FileDownloadError.
QFuture<void> fetch(QNetworkAccessManager &network, const QUrl &source, const QString &destination,
                    const DownloadAcceptance &acceptance, Progress onProgress, QObject *context,
                    std::chrono::milliseconds idleTimeout = DownloadAcceptance::idleTimeout,
                    RoomCheck checkRoom = {});

} // namespace FileDownload
