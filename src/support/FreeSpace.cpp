#include "FreeSpace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/statvfs.h>

namespace FreeSpace {

std::optional<qint64> availableBytes(const QString &path)
{
    QString existing = QFileInfo(path).absoluteFilePath();
    while (!QFileInfo::exists(existing) && existing != QDir::rootPath())
        existing = QFileInfo(existing).absolutePath();
    struct statvfs info {};
    // statvfs on the folder itself: QStorageInfo looks the mount up in
    // /proc/self/mounts, which a chroot may not have.
    if (::statvfs(QFile::encodeName(existing).constData(), &info) != 0 || info.f_frsize == 0)
        return std::nullopt;
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}

} // namespace FreeSpace
