#pragma once

#include <QString>

// A byte count as file sizes are shown to users: decimal units, "Zero KB",
// "512 bytes", "40 KB", "1.2 MB", "2.07 GB" (KB whole, MB one decimal, GB and
// above two, trailing zeros dropped).
QString formatByteCount(qint64 bytes);
