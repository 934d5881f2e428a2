#pragma once

#include <QString>

#include <optional>

namespace FreeSpace {

// Bytes an unprivileged writer may still put on the filesystem that holds
// `path` (or its nearest existing ancestor, for a folder not made yet). None
// when the system cannot tell, as in some chroots and containers.
std::optional<qint64> availableBytes(const QString &path);

} // namespace FreeSpace
