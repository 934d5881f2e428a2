#include "FileWriting.h"

namespace FileWriting {

bool writeAll(QFileDevice &file, const char *data, qint64 size)
{
    while (size > 0) {
        const qint64 written = file.write(data, size);
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

} // namespace FileWriting
