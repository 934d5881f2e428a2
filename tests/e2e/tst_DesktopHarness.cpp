#include "DesktopHarness.h"

#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <sys/resource.h>

using namespace std::chrono_literals;

namespace {
const char *const kDieAfterStart = "--start-a-desktop-and-die";

// The processes whose environment points into the desktop's directory: every
// helper the harness started, and whatever they started in turn.
QList<int> processesOf(const QString &runDir)
{
    const QByteArray marker = "XDG_RUNTIME_DIR=" + QFile::encodeName(runDir) + "/runtime";
    QList<int> found;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile environ(QStringLiteral("/proc/%1/environ").arg(entry));
        if (entry.toInt() <= 0 || !environ.open(QIODevice::ReadOnly))
            continue;
        if (environ.readAll().split('\0').contains(marker)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
            // a zombie has ended already; its parent reaps it
            if (stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z "))
                found.append(entry.toInt());
        }
    }
    return found;
}
} // namespace

// The harness itself: what it starts never outlives the suite.
class tst_DesktopHarness : public QObject {
    Q_OBJECT
private slots:
    void aSuiteThatDiesLeavesNothingRunning();
};

void tst_DesktopHarness::aSuiteThatDiesLeavesNothingRunning()
{
    ChildProcess suite;
    ChildProcess::Options options;
    options.pipes = true;
    QVERIFY(suite.start(QCoreApplication::applicationFilePath(), {QLatin1String(kDieAfterStart)}, options));
    QByteArray runDir;
    QVERIFY2(suite.readLine(&runDir, 60s) && !runDir.isEmpty(), "the desktop did not start");
    QVERIFY(suite.waitForFinished(10s));
    const QString dir = QFile::decodeName(runDir);

    DesktopHarness::waitUntil([&] { return processesOf(dir).isEmpty(); }, 10s);
    QStringList survivors;
    for (int pid : processesOf(dir)) {
        QFile name(QStringLiteral("/proc/%1/comm").arg(pid));
        survivors << (name.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(name.readAll().trimmed()) : QString::number(pid));
        ::kill(pid, SIGKILL);
    }
    if (!survivors.isEmpty())
        QDir(dir).removeRecursively();
    QVERIFY2(survivors.isEmpty(), qPrintable(QStringLiteral("still running: ") + survivors.join(u' ')));
    QVERIFY(DesktopHarness::waitUntil([&] { return !QFileInfo::exists(dir); }, 5s));
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], kDieAfterStart) == 0) {
        // A suite that crashes with its whole desktop up (no core file).
        DesktopHarness desktop;
        if (!desktop.start(DesktopHarness::Options{.trayHost = true}))
            return 1;
        std::printf("%s\n", qPrintable(desktop.runDir()));
        std::fflush(stdout);
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        std::abort();
    }
    QCoreApplication app(argc, argv);
    tst_DesktopHarness test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_DesktopHarness.moc"
