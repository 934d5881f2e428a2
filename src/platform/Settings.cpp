#include "Settings.h"

std::optional<QString> Settings::string(const QString &key) const
{
    if (!contains(key))
        return std::nullopt;
    return value(key).toString();
}

int Settings::integer(const QString &key) const
{
    return value(key).toInt();
}

double Settings::doubleValue(const QString &key) const
{
    return value(key).toDouble();
}

bool Settings::boolean(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        return s == QLatin1String("true") || s == QLatin1String("yes") || s.toInt() != 0;
    }
    return v.toBool();
}
