#pragma once

#include <QFuture>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QObject;

// Fetches one file over HTTP(S). The body goes to a temporary file beside
// the destination, which replaces the destination only when the whole body
// arrived with a 2xx status; otherwise nothing is left behind. Runs on the
// context's thread.
namespace FileDownload {

// Fraction of the body received, 0...1; only called when the size is known.
using Progress = std::function<void(double fraction)>;

// Finishes when the file is in place; fails with a DescribedError.
QFuture<void> fetch(QNetworkAccessManager &network, const QUrl &source, const QString &destination,
                    Progress onProgress, QObject *context);

} // namespace FileDownload
