#include "platform/linux/IniSettings.h"
#include "platform/linux/XdgAutostartLoginItems.h"
#include "platform/linux/XdgPaths.h"

#include <QtTest>

#include <sys/stat.h>

class tst_LinuxPathsAndSettings : public QObject {
    Q_OBJECT
private slots:
    void containerFollowsXdgDataHome();
    void configFollowsXdgConfigHome();
    void settingsPersistAndReadTypedDefaults();
    void foldersAndSettingsAreTheUsersAlone();

private:
    QTemporaryDir m_home;
};

void tst_LinuxPathsAndSettings::containerFollowsXdgDataHome()
{
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("share")).toUtf8());
    XdgPaths paths;
    QCOMPARE(paths.appGroupContainer(), std::optional(m_home.filePath(QStringLiteral("share/tavrune"))));
    QVERIFY(QFileInfo(m_home.filePath(QStringLiteral("share/tavrune"))).isDir());
    QCOMPARE(paths.applicationSupportDirectory(), m_home.filePath(QStringLiteral("share")));

    // a relative XDG_DATA_HOME is invalid and ignored
    qputenv("XDG_DATA_HOME", "relative/dir");
    QVERIFY(XdgPaths().applicationSupportDirectory().endsWith(QStringLiteral("/.local/share")));

    // a data home that is a file: no container, and the reason names it
    qputenv("XDG_DATA_HOME", QCoreApplication::applicationFilePath().toUtf8());
    QVERIFY(!XdgPaths().appGroupContainer());
    QCOMPARE(XdgPaths().containerProblem(),
             "cannot create " + QCoreApplication::applicationFilePath() + "/tavrune: Not a directory");
}

void tst_LinuxPathsAndSettings::configFollowsXdgConfigHome()
{
    const QString config = m_home.filePath(QStringLiteral("config"));
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    QCOMPARE(IniSettings::defaultFilePath(), config + QStringLiteral("/tavrune/tavrune.conf"));
    QCOMPARE(XdgAutostartLoginItems::defaultAutostartDirectory(), config + QStringLiteral("/autostart"));

    // a relative XDG_CONFIG_HOME is invalid and ignored
    qputenv("XDG_CONFIG_HOME", "relative/config");
    const QString fallback = QDir::homePath() + QStringLiteral("/.config");
    QCOMPARE(IniSettings::defaultFilePath(), fallback + QStringLiteral("/tavrune/tavrune.conf"));
    QCOMPARE(XdgAutostartLoginItems::defaultAutostartDirectory(), fallback + QStringLiteral("/autostart"));
    qunsetenv("XDG_CONFIG_HOME");
}

void tst_LinuxPathsAndSettings::foldersAndSettingsAreTheUsersAlone()
{
    const mode_t umaskBefore = umask(0); // the loosest; below, what an older version left open to everyone
    const QString container = m_home.filePath(QStringLiteral("modes/share/tavrune"));
    const QString old = m_home.filePath(QStringLiteral("modes/config/tavrune/tavrune.conf"));
    QVERIFY(QDir().mkpath(container) && QDir().mkpath(QFileInfo(old).path()) && QFile(old).open(QIODevice::WriteOnly));
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("modes/share")).toUtf8());
    QVERIFY(XdgPaths().appGroupContainer());
    IniSettings existing(old);
    const QString fresh = m_home.filePath(QStringLiteral("modes/fresh/tavrune/tavrune.conf"));
    IniSettings(fresh).setValue(QStringLiteral("brv_auth_token"), QStringLiteral("secret"));
    umask(umaskBefore);

    auto mode = [](const QString &path) { return int(QFileInfo(path).permissions()) & 0x777; }; // user, group, other
    for (const QString &folder : {container, QFileInfo(old).path(), QFileInfo(fresh).path()})
        QCOMPARE(mode(folder), 0x700);
    QCOMPARE(mode(old), 0x600);
    QCOMPARE(mode(fresh), 0x600);
}

void tst_LinuxPathsAndSettings::settingsPersistAndReadTypedDefaults()
{
    const QString file = m_home.filePath(QStringLiteral("config/tavrune/tavrune.conf"));
    IniSettings settings(file);
    QVERIFY(!settings.string(QStringLiteral("brv_auth_token")).has_value());
    QCOMPARE(settings.integer(QStringLiteral("missing")), 0);
    QCOMPARE(settings.boolean(QStringLiteral("missing")), false);
    settings.setValue(QStringLiteral("cloud_usage_minutes_used"), 12.5);
    settings.setValue(QStringLiteral("insights_enabled"), true);
    settings.setValue(QStringLiteral("brv.tts.selectedVoice"), QStringLiteral("af_heart"));

    // in the file while the writer still lives (another QSettings here would
    // share its unsaved cache): a crash now loses nothing
    auto fileLines = [&] {
        QFile conf(file);
        return conf.open(QIODevice::ReadOnly) ? QString::fromUtf8(conf.readAll()).split(QLatin1Char('\n')) : QStringList();
    };
    const QStringList lines = fileLines();
    QVERIFY2(lines.contains(QStringLiteral("cloud_usage_minutes_used=12.5")), qPrintable(lines.join('|')));
    QVERIFY(lines.contains(QStringLiteral("insights_enabled=true")));
    // dotted keys keep their name
    QVERIFY(lines.contains(QStringLiteral("brv.tts.selectedVoice=af_heart")));
    settings.remove(QStringLiteral("insights_enabled"));
    QVERIFY(!fileLines().contains(QStringLiteral("insights_enabled=true")));
}

QTEST_GUILESS_MAIN(tst_LinuxPathsAndSettings)
#include "tst_LinuxPathsAndSettings.moc"
