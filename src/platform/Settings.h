#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// The user's persistent key-value store. Missing keys read as the typed
// defaults below (empty, 0, 0.0, false).
class Settings {
public:
    virtual ~Settings() = default;

    virtual QVariant value(const QString &key) const = 0;
    virtual void setValue(const QString &key, const QVariant &value) = 0;
    virtual void remove(const QString &key) = 0;
    virtual bool contains(const QString &key) const = 0;

    std::optional<QString> string(const QString &key) const;
    int integer(const QString &key) const;
    double doubleValue(const QString &key) const;
    bool boolean(const QString &key) const;
};
