#include "FreeSpace.h"

#include "support/ByteCountFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/statvfs.h>

namespace {

constexpr qint64 kMarginCapBytes = 1'000'000'000;
// ext4 makes one inode per 16 KiB by default
constexpr qint64 kMarginCapInodes = kMarginCapBytes / 16384;

} // namespace

qint64 FreeSpace::Figures::marginBytes() const
{
    return qMin(totalBytes / 20, kMarginCapBytes);
}

qint64 FreeSpace::Figures::marginInodes() const
{
    return qMin(totalInodes / 20, kMarginCapInodes);
}

QString FreeSpace::Figures::shortfall(const QString &what, qint64 bytes, qint64 inodes, bool atLeast) const
{
    const QString needs = atLeast ? QStringLiteral("needs at least") : QStringLiteral("needs");
    if (bytes > 0 && bytes > availableBytes - marginBytes()) {
        return QStringLiteral("Not enough free space: %1 %2 %3 and only %4 is free, while %5 is kept free for "
                              "other programs.")
            .arg(what, needs, formatByteCount(bytes), formatByteCount(availableBytes), formatByteCount(marginBytes()));
    }
    if (availableInodes && inodes > 0 && inodes > *availableInodes - marginInodes()) {
        return QStringLiteral("Not enough free space: %1 %2 %3 files and folders and only %4 more can be made, "
                              "while %5 are kept free for other programs.")
            .arg(what, needs)
            .arg(inodes)
            .arg(*availableInodes)
            .arg(marginInodes());
    }
    return {};
}

FreeSpace::Figures FreeSpace::fromStatvfs(const struct statvfs &info)
{
    const auto frame = qint64(info.f_frsize);
    Figures figures;
    figures.availableBytes = qint64(info.f_bavail) * frame;
    figures.totalBytes = qint64(info.f_blocks) * frame;
    figures.blockSize = frame;
    if (info.f_files != 0) {
        figures.availableInodes = qint64(info.f_favail);
        figures.totalInodes = qint64(info.f_files);
    }
    return figures;
}

const FreeSpace &FreeSpace::system()
{
    static const FreeSpace real;
    return real;
}

std::optional<FreeSpace::Figures> FreeSpace::figuresAt(const QString &path) const
{
    QString existing = QFileInfo(path).absoluteFilePath();
    while (!QFileInfo::exists(existing) && existing != QDir::rootPath())
        existing = QFileInfo(existing).absolutePath();
    struct statvfs info {};
    // statvfs on the folder itself: QStorageInfo looks the mount up in
    // /proc/self/mounts, which a chroot may not have.
    if (::statvfs(QFile::encodeName(existing).constData(), &info) != 0 || info.f_frsize == 0)
        return std::nullopt;
    return fromStatvfs(info);
}

QString FreeSpace::checkRoom(const QString &what, qint64 bytes, qint64 inodes, const QString &path, bool atLeast) const
{
    const std::optional<Figures> figures = figuresAt(path);
    return figures ? figures->shortfall(what, bytes, inodes, atLeast) : QString();
}
