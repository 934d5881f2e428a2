#pragma once

#include "platform/Settings.h"

#include <QHash>
#include <QMutex>

class FakeSettings : public Settings {
public:
    QVariant value(const QString &key) const override;
    void setValue(const QString &key, const QVariant &value) override;
    void remove(const QString &key) override;
    bool contains(const QString &key) const override;

    void clear();

private:
    mutable QMutex m_mutex;
    QHash<QString, QVariant> m_values;
};
