#include "FakeSettings.h"

QVariant FakeSettings::value(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    return m_values.value(key);
}

void FakeSettings::setValue(const QString &key, const QVariant &value)
{
    QMutexLocker lock(&m_mutex);
    m_values.insert(key, value);
}

void FakeSettings::remove(const QString &key)
{
    QMutexLocker lock(&m_mutex);
    m_values.remove(key);
}

bool FakeSettings::contains(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    return m_values.contains(key);
}

void FakeSettings::clear()
{
    QMutexLocker lock(&m_mutex);
    m_values.clear();
}
