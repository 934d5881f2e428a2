#include "XdgAutostartLoginItems.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <filesystem>
#include <algorithm>
#include <system_error>

namespace {
const QString entryName = QStringLiteral("tavrune.desktop");

// Escapes of a desktop entry's string values.
QString escapedString(const QString &value)
{
    QString out;
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

// Desktop sessions skip entries that are hidden or switched off.
bool isSwitchedOff(const QString &line)
{
    const QString key = line.section(QLatin1Char('='), 0, 0).trimmed();
    const QString value = line.section(QLatin1Char('='), 1).trimmed();
    return (key == QLatin1String("Hidden") && value == QLatin1String("true"))
        || (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false"));
}
} // namespace

QString XdgAutostartLoginItems::defaultAutostartDirectory()
{
    const QString env = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString configHome = !env.isEmpty() && QDir::isAbsolutePath(env) ? QDir::cleanPath(env)
                                                                           : QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/autostart");
}

XdgAutostartLoginItems::XdgAutostartLoginItems(const QString &autostartDirectory, const QString &executablePath)
    : m_directory(autostartDirectory)
    , m_executablePath(executablePath)
{
}

QString XdgAutostartLoginItems::entryPath() const
{
    return m_directory + QLatin1Char('/') + entryName;
}

QString XdgAutostartLoginItems::execValue(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument = path;
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    const bool needsQuotes = std::any_of(argument.cbegin(), argument.cend(),
                                         [](QChar c) { return reserved.contains(c); });
    if (needsQuotes) {
        QString quoted = QStringLiteral("\"");
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        argument = quoted + QLatin1Char('"');
    }
    return escapedString(argument);
}

std::optional<QString> XdgAutostartLoginItems::registerMainApp()
{
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(m_directory).toStdString(), error);
    if (error)
        return QStringLiteral("Cannot create %1: %2").arg(m_directory, QString::fromLocal8Bit(error.message()));

    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString());
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Tavrune\n"
                                         "Comment=Dictation assistant\n"
                                         "Exec=%1\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(execValue(m_executablePath));
    file.write(entry.toUtf8());
    if (!file.commit())
        return QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString());
    return std::nullopt;
}

std::optional<QString> XdgAutostartLoginItems::unregisterMainApp()
{
    QFile file(entryPath());
    if (!file.exists() || file.remove())
        return std::nullopt;
    return QStringLiteral("Cannot remove %1: %2").arg(file.fileName(), file.errorString());
}

bool XdgAutostartLoginItems::isRegistered()
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        else if (inMainGroup && isSwitchedOff(line))
            return false;
    }
    return true;
}
