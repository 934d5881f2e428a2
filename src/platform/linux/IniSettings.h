#pragma once

#include "platform/Settings.h"

#include <QMutex>
#include <QSettings>

// $XDG_CONFIG_HOME/tavrune/tavrune.conf, keys as they are named; 0600 in a 0700 folder.
class IniSettings : public Settings {
public:
    IniSettings();
    explicit IniSettings(const QString &filePath);

    QVariant value(const QString &key) const override;
    void setValue(const QString &key, const QVariant &value) override;
    void remove(const QString &key) override;
    bool contains(const QString &key) const override;

    static QString defaultFilePath();

private:
    void save();

    mutable QMutex m_mutex;
    mutable QSettings m_settings;
};
