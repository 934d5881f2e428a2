#pragma once

#include <QString>

#include <atomic>

// Unpacks a zipped encoder. Only plain files and directories below
// `encoderName`/ are accepted, with relative names that never climb out;
// encrypted entries are refused rather than asking for a password. The bytes
// are counted as they are written, whatever the archive's headers claim, and
// unpacking stops past `room`. Throws CoreMLEncoderError::unzipFailed() for
// an archive it refuses, a DescribedError saying why otherwise; what was
// written stays in `target` for the caller to remove. Blocks: run it off the
// main thread.
namespace EncoderArchive {

void unpack(const QString &archive, const QString &target, const QString &encoderName, qint64 room,
            const std::atomic<bool> &stopping);

} // namespace EncoderArchive
