#pragma once

#include <QString>

#include <optional>

struct statvfs;

// The room on the filesystem that holds a path, and the margin every writer
// of ours leaves free there, so that other programs can still write while a
// large download or unpacking runs. The real one asks the system; tests hand
// in their own figures.
class FreeSpace {
public:
    struct Figures {
        qint64 availableBytes = 0; // what an unprivileged writer may still use
        qint64 totalBytes = 0;
        qint64 blockSize = 0; // every file and folder takes whole blocks of it
        // files and folders that can still be made; none where the
        // filesystem sets no limit (it reports no inodes at all)
        std::optional<qint64> availableInodes;
        qint64 totalInodes = 0;

        // Kept free: the smaller of 5 % of the filesystem and 1 GB.
        qint64 marginBytes() const;
        // Likewise for inodes: 5 %, at most what ext4 gives 1 GB.
        qint64 marginInodes() const;
        // Why `bytes` (in `inodes` new files and folders) do not fit once the
        // margin is kept; empty when they do. `what` names the writer ("the
        // download"); `atLeast` when `bytes` is a count so far, not the whole.
        QString shortfall(const QString &what, qint64 bytes, qint64 inodes, bool atLeast = false) const;
    };

    // The user's share: blocks available to unprivileged writers, not the
    // free blocks the superuser may still take, nor the size.
    static Figures fromStatvfs(const struct statvfs &info);
    // The real filesystems.
    static const FreeSpace &system();

    virtual ~FreeSpace() = default;
    // The filesystem that holds `path` (or its nearest existing ancestor, for
    // a folder not made yet). None when the system cannot tell, as in some
    // chroots and containers.
    virtual std::optional<Figures> figuresAt(const QString &path) const;
    // Figures::shortfall() at `path`; where the figures cannot be read,
    // nothing is refused.
    QString checkRoom(const QString &what, qint64 bytes, qint64 inodes, const QString &path, bool atLeast = false) const;
};
