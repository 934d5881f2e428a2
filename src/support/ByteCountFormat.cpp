#include "ByteCountFormat.h"

#include <cmath>

QString formatByteCount(qint64 bytes)
{
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    const QString sign = bytes < 0 ? QStringLiteral("-") : QString();
    const double magnitude = std::abs(double(bytes));
    if (magnitude < 1000)
        return sign + (magnitude == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(qint64(magnitude)));

    static const struct {
        const char *name;
        int decimals;
    } units[] = {{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}};
    double value = magnitude / 1000;
    for (size_t i = 0; i < std::size(units); ++i) {
        const double scale = std::pow(10.0, units[i].decimals);
        const double rounded = std::round(value * scale) / scale;
        // 999,999 bytes round to 1000 KB, which reads better as 1 MB
        if (rounded >= 1000 && i + 1 < std::size(units)) {
            value /= 1000;
            continue;
        }
        QString number = QString::number(rounded, 'f', units[i].decimals);
        if (number.contains(QLatin1Char('.'))) {
            while (number.endsWith(QLatin1Char('0')))
                number.chop(1);
            if (number.endsWith(QLatin1Char('.')))
                number.chop(1);
        }
        return sign + number + QLatin1Char(' ') + QLatin1String(units[i].name);
    }
    return {};
}
