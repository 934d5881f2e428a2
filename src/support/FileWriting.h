#pragma once

#include <QFileDevice>

namespace FileWriting {

// Writes all of `data` or fails with the system's reason in errorString().
// A disk that fills up part-way through a chunk first takes a short write,
// for which Qt reports no reason; carrying on makes the system say why.
bool writeAll(QFileDevice &file, const char *data, qint64 size);

} // namespace FileWriting
