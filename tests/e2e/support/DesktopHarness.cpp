#include "DesktopHarness.h"

#include "platform/linux/X11Connection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <X11/Xlib.h>

#include <cmath>
#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono;

namespace {
constexpr milliseconds kStartLimit(10000);

// Bus-activated helpers (the registry daemon, a second bus launcher) are not
// our children; as their subreaper we get them back when their parents go, so
// they can be ended and reaped instead of lingering as zombies.
void endStrayDescendants()
{
    const QByteArray self = QByteArray::number(::getpid());
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (entry.toInt() <= 0 || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        if (line.mid(line.lastIndexOf(')') + 2).split(' ').value(1) == self)
            ::kill(entry.toInt(), SIGTERM);
    }
    const auto deadline = steady_clock::now() + milliseconds(1000);
    while (steady_clock::now() < deadline) {
        const pid_t r = ::waitpid(-1, nullptr, WNOHANG);
        if (r < 0)
            break;
        if (r == 0)
            std::this_thread::sleep_for(milliseconds(10));
    }
}

bool sessionBusAnswers(const QString &destination, const QString &path, const QString &method)
{
    return runProgram(QStringLiteral("dbus-send"),
                      {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                       QStringLiteral("--dest=") + destination, path, method},
                      milliseconds(2000))
        == 0;
}

} // namespace

QString DesktopHarness::logTail(const QString &name, int lines) const
{
    QFile file(logPath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList all = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    return all.mid(std::max<qsizetype>(0, all.size() - lines)).join(QLatin1Char('\n'));
}

bool DesktopHarness::fail(const QString &message)
{
    m_error = message;
    stop();
    return false;
}

void DesktopHarness::setEnv(const char *name, const QByteArray &value, bool unset)
{
    m_savedEnv.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
    unset ? qunsetenv(name) : qputenv(name, value);
}

bool DesktopHarness::waitUntil(const std::function<bool()> &condition, milliseconds timeout)
{
    const auto deadline = steady_clock::now() + timeout;
    while (!condition()) {
        if (steady_clock::now() >= deadline)
            return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

QString DesktopHarness::writeConfig(const QString &fileName, const QByteArray &content)
{
    const QString path = m_runDir + QLatin1Char('/') + fileName;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? path : QString();
}

bool DesktopHarness::launch(ChildProcess &process, const QString &name, const QString &program,
                            const QStringList &arguments, const std::function<bool()> &ready,
                            ChildProcess::Options options)
{
    options.logFile = logPath(name);
    if (!process.start(program, arguments, options))
        return fail(QStringLiteral("cannot run %1 (scripts/bootstrap installs it)").arg(program));
    return waitUntil(ready, kStartLimit) || fail(QStringLiteral("%1 did not come up:\n%2").arg(name, logTail(name)));
}

bool DesktopHarness::start(const Options &options)
{
    if (m_started)
        return true;
    m_options = options;
    m_error.clear();
    QByteArray templ = QFile::encodeName(QDir::tempPath()) + "/tavrune-e2e-XXXXXX";
    if (!::mkdtemp(templ.data())) {
        m_error = QStringLiteral("cannot create a temporary directory");
        return false;
    }
    m_runDir = QFile::decodeName(templ);
    for (const char *sub : {"runtime/pulse", "config", "data", "cache"})
        QDir().mkpath(m_runDir + QLatin1Char('/') + QLatin1String(sub));
    QFile::setPermissions(m_runDir + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_started = true;
    // Should the suite die, nothing of its desktop outlives it.
    ChildProcess::endChildrenWhenThisProcessDies(qgetenv("TAVRUNE_E2E_KEEP") == "1" ? QString() : m_runDir);
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    setEnv("XDG_RUNTIME_DIR", templ + "/runtime");
    setEnv("XDG_CONFIG_HOME", templ + "/config");
    setEnv("XDG_DATA_HOME", templ + "/data");
    setEnv("XDG_CACHE_HOME", templ + "/cache");
    // No dconf on the private bus: desktop settings (such as the one behind
    // the accessibility bus's IsEnabled) live in each process's memory.
    setEnv("GSETTINGS_BACKEND", "memory");
    for (const char *name : {"WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE", "PULSE_SERVER",
                             "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "QT_ACCESSIBILITY", "SESSION_MANAGER"})
        setEnv(name, {}, true);

    // Xvfb picks a free display itself and writes its number once it is ready.
    QByteArray number;
    ChildProcess::Options xOptions;
    xOptions.pipes = true;
    if (!launch(m_xvfb, QStringLiteral("xvfb"), QStringLiteral("Xvfb"),
                QStringLiteral("-displayfd 1 -screen 0 1280x800x24 -nolisten tcp -noreset").split(QLatin1Char(' ')),
                [&] { return m_xvfb.readLine(&number, kStartLimit) && !number.trimmed().isEmpty(); }, xOptions))
        return false;
    m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    setEnv("DISPLAY", m_display.toLatin1());

    // No key bindings: the stock ones take chords the application grabs
    // itself (Alt+Space opens openbox's window menu).
    if (m_options.windowManager) {
        const QString rc = writeConfig(QStringLiteral("openbox-rc.xml"),
                                       "<?xml version=\"1.0\"?>\n"
                                       "<openbox_config xmlns=\"http://openbox.org/3.4/rc\">\n"
                                       "  <focus><focusNew>yes</focusNew></focus><keyboard></keyboard>\n"
                                       "</openbox_config>\n");
        if (!launch(m_openbox, QStringLiteral("openbox"), QStringLiteral("openbox"),
                    {QStringLiteral("--sm-disable"), QStringLiteral("--config-file"), rc},
                    [] { return X11Connection().hasWindowManager(); }))
            return false;
    }

    if (m_options.trayHost
        && !launch(m_tray, QStringLiteral("tray"), QStringLiteral("trayer"),
                   QStringLiteral("--edge top --align right --widthtype request --height 24 --SetDockType true "
                                  "--transparent false")
                       .split(QLatin1Char(' ')),
                   [] {
                       X11Connection x;
                       return x.display()
                           && XGetSelectionOwner(x.display(), XInternAtom(x.display(), "_NET_SYSTEM_TRAY_S0", False))
                           != None;
                   }))
        return false;

    // No service directories: nothing gets started behind our back, so a
    // desktop without accessibility stays without it.
    const QByteArray bus = "unix:path=" + templ + "/runtime/bus";
    const QString busConfig = writeConfig(
        QStringLiteral("session-bus.conf"),
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>" + bus + "</listen><auth>EXTERNAL</auth>\n"
        "  <policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
        "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>\n"
        "</busconfig>\n");
    setEnv("DBUS_SESSION_BUS_ADDRESS", bus);
    if (!launch(m_dbus, QStringLiteral("dbus"), QStringLiteral("dbus-daemon"),
                {QStringLiteral("--config-file=") + busConfig, QStringLiteral("--nofork"), QStringLiteral("--nopidfile")},
                [] { return sessionBusAnswers(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/"),
                                              QStringLiteral("org.freedesktop.DBus.GetId")); }))
        return false;

    if (m_options.accessibility) {
        QString launcher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
        if (!QFileInfo::exists(launcher))
            launcher = QStringLiteral("/usr/lib/at-spi2-core/at-spi-bus-launcher");
        if (!launch(m_atspi, QStringLiteral("atspi"), launcher, {QStringLiteral("--launch-immediately")}, [] {
                return sessionBusAnswers(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                         QStringLiteral("org.a11y.Bus.GetAddress"));
            }))
            return false;
    }

    if (m_options.audio) {
        // Qt lists no monitor sources, so the microphone is a plain source
        // fed from the sink's monitor.
        const QString socket = m_runDir + QStringLiteral("/runtime/pulse/native");
        const QString script = writeConfig(
            QStringLiteral("pulse.pa"),
            QStringLiteral("load-module module-native-protocol-unix socket=%1 auth-anonymous=1\n"
                           "load-module module-null-sink sink_name=tavrune_speakers\n"
                           "load-module module-null-sink sink_name=tavrune_mic rate=48000 channels=1 "
                           "sink_properties=device.description=Microphone\n"
                           "load-module module-remap-source master=tavrune_mic.monitor "
                           "source_name=tavrune_microphone rate=48000 channels=1 "
                           "source_properties=device.description=Microphone\n"
                           "set-default-sink tavrune_speakers\nset-default-source tavrune_microphone\n")
                .arg(socket)
                .toUtf8());
        setEnv("PULSE_SERVER", "unix:" + QFile::encodeName(socket));
        // Root runs it as a per-user daemon too: --system would need the
        // pulse user and its fixed socket.
        if (!launch(m_pulse, QStringLiteral("pulse"), QStringLiteral("pulseaudio"),
                    QStringLiteral("-n --daemonize=no --system=no --use-pid-file=no --exit-idle-time=-1 "
                                   "--disallow-exit --log-target=stderr -F")
                            .split(QLatin1Char(' '))
                        << script,
                    [] { return runProgram(QStringLiteral("pactl"), {QStringLiteral("info")}, milliseconds(2000)) == 0; }))
            return false;
    }
    return true;
}

void DesktopHarness::stop()
{
    if (!m_started)
        return;
    m_targets.clear();
    m_players.clear();
    m_pulse.stop();
    m_atspi.stop();
    m_dbus.stop();
    m_tray.stop();
    m_openbox.stop();
    m_xvfb.stop();
    endStrayDescendants();
    for (auto it = m_savedEnv.rbegin(); it != m_savedEnv.rend(); ++it)
        it->wasSet ? qputenv(it->name.constData(), it->value) : qunsetenv(it->name.constData());
    m_savedEnv.clear();
    if (qgetenv("TAVRUNE_E2E_KEEP") != "1")
        QDir(m_runDir).removeRecursively();
    ChildProcess::endChildrenWhenThisProcessDies({});
    m_started = false;
}

TargetApp *DesktopHarness::startTarget(bool accessible)
{
    const QString name = QStringLiteral("target-%1").arg(m_targets.size() + 1);
    const QString directory = m_runDir + QLatin1Char('/') + name;
    QDir().mkpath(directory);
    auto target = std::make_unique<TargetApp>(directory, logPath(name));
    if (!target->start(accessible)) {
        m_error = target->errorString() + QLatin1Char('\n') + logTail(name);
        return nullptr;
    }
    m_targets.push_back(std::move(target));
    return m_targets.back().get();
}

bool DesktopHarness::playIntoMicrophone(const QString &soundFile, bool wait, milliseconds buffer)
{
    const QStringList arguments{QStringLiteral("--device=tavrune_mic"),
                                QStringLiteral("--latency-msec=%1").arg(buffer.count()), soundFile};
    if (wait)
        return runProgram(QStringLiteral("paplay"), arguments, milliseconds(60000)) == 0;
    auto player = std::make_unique<ChildProcess>();
    if (!player->start(QStringLiteral("paplay"), arguments))
        return false;
    m_players.push_back(std::move(player));
    return true;
}

bool DesktopHarness::xdotool(const QStringList &arguments)
{
    return runProgram(QStringLiteral("xdotool"), arguments, milliseconds(5000)) == 0;
}

bool DesktopHarness::recordSpeakers(ChildProcess &recorder, const QString &file)
{
    QFile::remove(file); // the recorder appends
    return recorder.start(QStringLiteral("parec"),
                          {QStringLiteral("-d"), QStringLiteral("tavrune_speakers.monitor"),
                           QStringLiteral("--format=float32le"), QStringLiteral("--rate=%1").arg(speakerRecordingRate),
                           QStringLiteral("--channels=1"), QStringLiteral("--raw")},
                          {file, false});
}

double DesktopHarness::loudSeconds(const QString &file)
{
    QFile recording(file);
    const QByteArray bytes = recording.open(QIODevice::ReadOnly) ? recording.readAll() : QByteArray();
    const qsizetype window = speakerRecordingRate / 50, count = bytes.size() / qsizetype(sizeof(float));
    int loud = 0;
    for (qsizetype start = 0; start + window <= count; start += window) {
        double sum = 0;
        for (qsizetype i = start; i < start + window; ++i)
            sum += std::pow(qFromLittleEndian<float>(bytes.constData() + i * qsizetype(sizeof(float))), 2);
        loud += std::sqrt(sum / double(window)) > 0.01 ? 1 : 0;
    }
    return loud / 50.0;
}
