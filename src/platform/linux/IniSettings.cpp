#include "IniSettings.h"

#include "support/PrivateFiles.h"

#include <QDir>
#include <QFileInfo>

QString IniSettings::defaultFilePath()
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || !QDir::isAbsolutePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/tavrune/tavrune.conf");
}

IniSettings::IniSettings()
    : IniSettings(defaultFilePath())
{
}

IniSettings::IniSettings(const QString &filePath)
    : m_settings(filePath, QSettings::IniFormat)
{
    // The file holds the cloud token.
    PrivateFiles::ensureFolder(QFileInfo(filePath).absolutePath());
    PrivateFiles::restrictFile(filePath);
}

void IniSettings::save()
{
    m_settings.sync(); // a crash must not lose what the user changed
    PrivateFiles::restrictFile(m_settings.fileName());
}

QVariant IniSettings::value(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    return m_settings.value(key);
}

void IniSettings::setValue(const QString &key, const QVariant &value)
{
    QMutexLocker lock(&m_mutex);
    m_settings.setValue(key, value);
    save();
}

void IniSettings::remove(const QString &key)
{
    QMutexLocker lock(&m_mutex);
    m_settings.remove(key);
    save();
}

bool IniSettings::contains(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    return m_settings.contains(key);
}
