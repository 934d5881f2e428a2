#include "ModelDownloadError.h"

ModelDownloadError ModelDownloadError::httpError(int status)
{
    return {Kind::httpError, QStringLiteral("Server returned HTTP %1.").arg(status), status};
}

ModelDownloadError ModelDownloadError::fileMoveFailed()
{
    return {Kind::fileMoveFailed, QStringLiteral("Could not move downloaded file to models directory.")};
}

ModelDownloadError ModelDownloadError::alreadyDownloading()
{
    return {Kind::alreadyDownloading, QStringLiteral("A download is already in progress.")};
}

ModelDownloadError ModelDownloadError::maxRetriesExceeded()
{
    return {Kind::maxRetriesExceeded, QStringLiteral("Download failed after multiple retries.")};
}

ModelDownloadError ModelDownloadError::notAModelFile(const QString &whatArrived)
{
    return {Kind::notAModelFile, whatArrived};
}

ModelDownloadError ModelDownloadError::writeFailed(const QString &reason)
{
    return {Kind::writeFailed, QStringLiteral("Could not save the downloaded data: %1.").arg(reason)};
}

ModelDownloadError ModelDownloadError::notEnoughSpace(const QString &figures)
{
    return {Kind::notEnoughSpace, figures};
}

ModelDownloadError ModelDownloadError::partialFileInUse(const QString &partialFile, const QString &holder)
{
    const QString by = holder.isEmpty() ? QStringLiteral("another download")
                                        : QStringLiteral("another download (%1)").arg(holder);
    return {Kind::partialFileInUse, QStringLiteral("%1 is being written by %2.").arg(partialFile, by)};
}
