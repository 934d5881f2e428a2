#include "app/LoginItemService.h"
#include "platform/linux/XdgAutostartLoginItems.h"
#include "support/LogCapture.h"

#include <QtTest>

// The launch-at-login switch's service on a real autostart directory.
class tst_LoginItemService : public QObject {
    Q_OBJECT
private slots:
    void init();
    void registerWritesAnEntryRunningThisExecutableAndUnregisterRemovesIt();
    void refusedChangesAreLoggedWithTheirReason();
    void registeredStateFollowsTheEntry_data();
    void registeredStateFollowsTheEntry();

private:
    QString autostart() const { return m_dir->filePath(QStringLiteral("config/autostart")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_LoginItemService::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_LoginItemService::registerWritesAnEntryRunningThisExecutableAndUnregisterRemovesIt()
{
    // a path a desktop session would split at the space unless quoted
    const QString executable = m_dir->filePath(QStringLiteral("My Apps/tavrune"));
    XdgAutostartLoginItems items(autostart(), executable);
    LoginItemService service(items);
    LogCapture log;

    service.register_();
    QFile entry(autostart() + QStringLiteral("/tavrune.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("[Desktop Entry]"));
    QVERIFY(lines.contains(QStringLiteral("Type=Application")));
    QVERIFY(lines.contains(QStringLiteral("Exec=\"%1\"").arg(executable)));
    QCOMPARE(QDir(autostart()).entryList(QDir::Files), QStringList{QStringLiteral("tavrune.desktop")});
    QVERIFY(service.isRegistered());

    service.unregister();
    QVERIFY(!entry.exists());
    QVERIFY(!service.isRegistered());
    // again: nothing left to remove is no failure
    service.unregister();
    QVERIFY(!log.contains(QStringLiteral("Failed")));

    QCOMPARE(XdgAutostartLoginItems::execValue(QStringLiteral("/opt/a\"b$c%d\\e")),
             QStringLiteral("\"/opt/a\\\\\"b\\\\$c%%d\\\\\\\\e\""));
    QCOMPARE(XdgAutostartLoginItems::execValue(QStringLiteral("/usr/bin/tavrune")), QStringLiteral("/usr/bin/tavrune"));
}

void tst_LoginItemService::refusedChangesAreLoggedWithTheirReason()
{
    // a file where the autostart directory should be (permissions would not stop root)
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("config"))));
    QFile blocker(autostart());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    XdgAutostartLoginItems items(autostart(), QStringLiteral("/usr/bin/tavrune"));
    LoginItemService service(items);
    LogCapture log;

    service.register_();
    QVERIFY(!service.isRegistered());
    // an entry that cannot be removed: a directory with something inside
    QVERIFY(blocker.remove());
    QVERIFY(QDir().mkpath(autostart() + QStringLiteral("/tavrune.desktop/x")));
    service.unregister();

    const QStringList lines = log.linesStartingWith(QStringLiteral("[LoginItem] "));
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith(QStringLiteral("[LoginItem] Failed to register: Cannot create %1: ").arg(autostart()))
                 && lines[0].contains(QStringLiteral("Not a directory")),
             qPrintable(lines[0]));
    QVERIFY2(lines[1].startsWith(QStringLiteral("[LoginItem] Failed to unregister: Cannot remove ")), qPrintable(lines[1]));
}

void tst_LoginItemService::registeredStateFollowsTheEntry_data()
{
    QTest::addColumn<QString>("entry"); // empty: no file
    QTest::addColumn<bool>("registered");
    QTest::newRow("no entry") << QString() << false;
    QTest::newRow("entry") << "[Desktop Entry]\nType=Application\nExec=tavrune\n" << true;
    QTest::newRow("hidden by the session") << "[Desktop Entry]\nExec=tavrune\nHidden=true\n" << false;
    QTest::newRow("switched off") << "[Desktop Entry]\nExec=tavrune\nX-GNOME-Autostart-enabled=false\n" << false;
    QTest::newRow("hidden only in an action") << "[Desktop Entry]\nExec=tavrune\n[Desktop Action x]\nHidden=true\n"
                                              << true;
}

void tst_LoginItemService::registeredStateFollowsTheEntry()
{
    QFETCH(QString, entry);
    QFETCH(bool, registered);
    if (!entry.isEmpty()) {
        QVERIFY(QDir().mkpath(autostart()));
        QFile file(autostart() + QStringLiteral("/tavrune.desktop"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(entry.toUtf8());
    }
    XdgAutostartLoginItems items(autostart(), QStringLiteral("/usr/bin/tavrune"));
    QCOMPARE(LoginItemService(items).isRegistered(), registered);
}

QTEST_GUILESS_MAIN(tst_LoginItemService)
#include "tst_LoginItemService.moc"
