#pragma once

#include "platform/LoginItems.h"

// The login item as a freedesktop autostart entry, "tavrune.desktop" in the
// user's autostart directory, whose Exec line runs the given executable.
class XdgAutostartLoginItems : public LoginItems {
public:
    // $XDG_CONFIG_HOME/autostart, else ~/.config/autostart.
    static QString defaultAutostartDirectory();

    XdgAutostartLoginItems(const QString &autostartDirectory, const QString &executablePath);

    std::optional<QString> registerMainApp() override;
    std::optional<QString> unregisterMainApp() override;
    bool isRegistered() override;

    QString entryPath() const;
    // The Exec value that runs path: quoted and escaped as desktop entries require.
    static QString execValue(const QString &path);

private:
    QString m_directory;
    QString m_executablePath;
};
