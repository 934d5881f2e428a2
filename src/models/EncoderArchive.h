#pragma once

#include "support/FreeSpace.h"

#include <QString>

#include <atomic>
#include <optional>

// Unpacks a zipped encoder. Only plain files and directories below
// `encoderName`/ are accepted, with relative names that never climb out;
// encrypted entries are refused rather than asking for a password. What the
// encoder takes on disk is counted as it is written, whatever the archive's
// headers claim, and unpacking stops past its bounds. Throws
// CoreMLEncoderError::unzipFailed() for an archive it refuses, a
// DescribedError saying why otherwise; what was written stays in `target` for
// the caller to remove. Blocks: run it off the main thread.
namespace EncoderArchive {

// What an unpacked encoder may take. Every file and folder costs whole
// blocks of the target filesystem, at least one, and an inode.
struct Bounds {
    qint64 bytes = 0;   // on disk
    qint64 entries = 0; // files and folders
    // the target filesystem, where known: its block size, and its free space
    // less the margin left for other programs
    std::optional<FreeSpace::Figures> disk;
    // The archive's size where it lies on that filesystem, to be deleted once
    // unpacked: it counts with the encoder, and its room as free, so the
    // figures told are those the disk shows without it.
    qint64 archiveBytes = 0;
};

void unpack(const QString &archive, const QString &target, const QString &encoderName, const Bounds &bounds,
            const std::atomic<bool> &stopping);

} // namespace EncoderArchive
