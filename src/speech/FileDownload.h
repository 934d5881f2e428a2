#pragma once

#include "models/DownloadAcceptance.h"

#include <QFuture>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

class QNetworkAccessManager;
class QObject;

// Fetches one file over HTTP(S). The body goes to a temporary file beside
// the destination, which replaces the destination only when the acceptance
// takes it: the whole announced body, of the right kind. Otherwise nothing is
// left behind. A server silent for idleTimeout is given up. Runs on the
// context's thread.
namespace FileDownload {

// Fraction of the body received, 0...1; only called when the size is known.
using Progress = std::function<void(double fraction)>;

// Finishes when the file is in place; fails with a DescribedError.
QFuture<void> fetch(QNetworkAccessManager &network, const QUrl &source, const QString &destination,
                    const DownloadAcceptance &acceptance, Progress onProgress, QObject *context,
                    std::chrono::milliseconds idleTimeout = DownloadAcceptance::idleTimeout);

} // namespace FileDownload
