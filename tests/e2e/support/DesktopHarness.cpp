#include "DesktopHarness.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <csignal>
#include <cstdlib>
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
    const QString self = QString::number(::getpid());
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool numeric = false;
        const int pid = entry.toInt(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1) == self.toLatin1())
            ::kill(pid, SIGTERM);
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

bool rootHasProperty(const QByteArray &display, const char *atomName)
{
    Display *dpy = XOpenDisplay(display.constData());
    if (!dpy)
        return false;
    const Atom atom = XInternAtom(dpy, atomName, True);
    bool found = false;
    if (atom != None) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(dpy, DefaultRootWindow(dpy), atom, 0, 1, False, AnyPropertyType,
                               &type, &format, &count, &after, &data) == Success) {
            found = type != None && count > 0;
            if (data)
                XFree(data);
        }
    }
    XCloseDisplay(dpy);
    return found;
}
} // namespace

DesktopHarness::DesktopHarness() = default;

DesktopHarness::~DesktopHarness()
{
    stop();
}

QString DesktopHarness::runDir() const
{
    return QFile::decodeName(m_runDir);
}

QString DesktopHarness::logPath(const QString &name) const
{
    return runDir() + QStringLiteral("/") + name + QStringLiteral(".log");
}

QString DesktopHarness::logTail(const QString &name, int lines) const
{
    QFile file(logPath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList all = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    return all.mid(std::max<qsizetype>(0, all.size() - lines)).join(QLatin1Char('\n'));
}

bool DesktopHarness::fail(const QString &message)
{
    m_error = message;
    stop();
    return false;
}

void DesktopHarness::setEnv(const char *name, const QByteArray &value)
{
    m_savedEnv.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
    qputenv(name, value);
}

void DesktopHarness::unsetEnv(const char *name)
{
    m_savedEnv.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
    qunsetenv(name);
}

void DesktopHarness::restoreEnv()
{
    for (auto it = m_savedEnv.rbegin(); it != m_savedEnv.rend(); ++it) {
        if (it->wasSet)
            qputenv(it->name.constData(), it->value);
        else
            qunsetenv(it->name.constData());
    }
    m_savedEnv.clear();
}

bool DesktopHarness::waitUntil(const std::function<bool()> &condition, milliseconds timeout)
{
    const auto deadline = steady_clock::now() + timeout;
    for (;;) {
        if (condition())
            return true;
        if (steady_clock::now() >= deadline)
            return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(milliseconds(10));
    }
}

bool DesktopHarness::start(const Options &options)
{
    if (m_started)
        return true;
    m_options = options;
    m_error.clear();
    QByteArray templ = QDir::tempPath().toLocal8Bit() + "/tavrune-e2e-XXXXXX";
    if (!::mkdtemp(templ.data())) {
        m_error = QStringLiteral("cannot create a temporary directory");
        return false;
    }
    m_runDir = templ;
    for (const char *sub : {"runtime", "config", "data", "cache"})
        QDir().mkpath(runDir() + QLatin1Char('/') + QLatin1String(sub));
    QFile::setPermissions(runDir() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_started = true;
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    setEnv("XDG_RUNTIME_DIR", m_runDir + "/runtime");
    setEnv("XDG_CONFIG_HOME", m_runDir + "/config");
    setEnv("XDG_DATA_HOME", m_runDir + "/data");
    setEnv("XDG_CACHE_HOME", m_runDir + "/cache");
    for (const char *name : {"WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE", "PULSE_SERVER",
                             "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "QT_ACCESSIBILITY", "SESSION_MANAGER"})
        unsetEnv(name);

    if (!startX())
        return false;
    if (m_options.windowManager && !startWindowManager())
        return false;
    if (!startSessionBus())
        return false;
    if (m_options.accessibility && !startAccessibilityBus())
        return false;
    if (m_options.audio && !startPulseAudio())
        return false;
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
    m_openbox.stop();
    m_xvfb.stop();
    endStrayDescendants();
    restoreEnv();
    if (qgetenv("TAVRUNE_E2E_KEEP") != "1" && !m_runDir.isEmpty())
        QDir(runDir()).removeRecursively();
    m_started = false;
}

bool DesktopHarness::startX()
{
    // Xvfb picks a free display itself and writes its number once it is ready.
    ChildProcess::Options options;
    options.logFile = logPath(QStringLiteral("xvfb"));
    options.extraWriteFd = 3;
    if (!m_xvfb.start(QStringLiteral("Xvfb"),
                      {QStringLiteral("-displayfd"), QStringLiteral("3"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                       QStringLiteral("tcp"), QStringLiteral("-noreset")},
                      options))
        return fail(QStringLiteral("cannot run Xvfb (is the xvfb package installed?)"));
    QByteArray number;
    if (!m_xvfb.readExtraLine(&number, kStartLimit) || number.trimmed().isEmpty())
        return fail(QStringLiteral("Xvfb did not come up:\n") + logTail(QStringLiteral("xvfb")));
    m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    setEnv("DISPLAY", m_display.toLatin1());
    Display *dpy = XOpenDisplay(m_display.toLatin1().constData());
    if (!dpy)
        return fail(QStringLiteral("cannot open display %1").arg(m_display));
    XCloseDisplay(dpy);
    return true;
}

bool DesktopHarness::startWindowManager()
{
    // No key bindings: the stock ones take chords the application grabs
    // itself (Alt+Space opens openbox's window menu).
    const QString config = runDir() + QStringLiteral("/openbox-rc.xml");
    QFile rc(config);
    if (!rc.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1").arg(config));
    rc.write("<?xml version=\"1.0\"?>\n"
             "<openbox_config xmlns=\"http://openbox.org/3.4/rc\">\n"
             "  <focus><focusNew>yes</focusNew></focus>\n"
             "  <keyboard></keyboard>\n"
             "</openbox_config>\n");
    rc.close();
    ChildProcess::Options options;
    options.logFile = logPath(QStringLiteral("openbox"));
    if (!m_openbox.start(QStringLiteral("openbox"),
                         {QStringLiteral("--sm-disable"), QStringLiteral("--config-file"), config}, options))
        return fail(QStringLiteral("cannot run openbox"));
    const QByteArray display = m_display.toLatin1();
    if (!waitUntil([&] { return rootHasProperty(display, "_NET_SUPPORTING_WM_CHECK"); }, kStartLimit))
        return fail(QStringLiteral("openbox did not come up:\n") + logTail(QStringLiteral("openbox")));
    return true;
}

bool DesktopHarness::startSessionBus()
{
    const QByteArray socket = m_runDir + "/runtime/bus";
    // No service directories: nothing gets started behind our back, so a
    // desktop without accessibility stays without it.
    const QString config = runDir() + QStringLiteral("/session-bus.conf");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1").arg(config));
    file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>session</type>\n"
               "  <listen>unix:path=" + socket + "</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
               "    <allow eavesdrop=\"true\"/>\n"
               "    <allow own=\"*\"/>\n"
               "  </policy>\n"
               "</busconfig>\n");
    file.close();
    ChildProcess::Options options;
    options.logFile = logPath(QStringLiteral("dbus"));
    if (!m_dbus.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                       QStringLiteral("--nopidfile")},
                      options))
        return fail(QStringLiteral("cannot run dbus-daemon"));
    setEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket);
    const bool up = waitUntil([] {
        return sessionBusAnswers(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/"),
                                 QStringLiteral("org.freedesktop.DBus.GetId"));
    }, kStartLimit);
    return up || fail(QStringLiteral("the session bus did not come up:\n") + logTail(QStringLiteral("dbus")));
}

bool DesktopHarness::startAccessibilityBus()
{
    ChildProcess::Options options;
    options.logFile = logPath(QStringLiteral("atspi"));
    QString launcher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
    if (!QFileInfo::exists(launcher))
        launcher = QStringLiteral("/usr/lib/at-spi2-core/at-spi-bus-launcher");
    if (!m_atspi.start(launcher, {QStringLiteral("--launch-immediately")}, options))
        return fail(QStringLiteral("cannot run at-spi-bus-launcher (is at-spi2-core installed?)"));
    const bool up = waitUntil([] {
        return sessionBusAnswers(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                 QStringLiteral("org.a11y.Bus.GetAddress"));
    }, kStartLimit);
    return up || fail(QStringLiteral("the accessibility bus did not come up:\n") + logTail(QStringLiteral("atspi")));
}

bool DesktopHarness::startPulseAudio()
{
    const QString socket = runDir() + QStringLiteral("/runtime/pulse/native");
    QDir().mkpath(runDir() + QStringLiteral("/runtime/pulse"));
    const QString script = runDir() + QStringLiteral("/pulse.pa");
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1").arg(script));
    file.write(QStringLiteral(
                   "load-module module-native-protocol-unix socket=%1 auth-anonymous=1\n"
                   "load-module module-null-sink sink_name=tavrune_speakers\n"
                   "load-module module-null-sink sink_name=tavrune_mic rate=%2 channels=%3 "
                   "sink_properties=device.description=Microphone\n"
                   // Qt lists no monitor sources, so the microphone is a plain
                   // source fed from the sink's monitor.
                   "load-module module-remap-source master=tavrune_mic.monitor "
                   "source_name=tavrune_microphone rate=%2 channels=%3 "
                   "source_properties=device.description=Microphone\n"
                   "set-default-sink tavrune_speakers\n"
                   "set-default-source tavrune_microphone\n")
                   .arg(socket)
                   .arg(m_options.microphoneRate)
                   .arg(m_options.microphoneChannels)
                   .toUtf8());
    file.close();
    setEnv("PULSE_SERVER", "unix:" + QFile::encodeName(socket));
    ChildProcess::Options options;
    options.logFile = logPath(QStringLiteral("pulse"));
    // Root runs it as a per-user daemon too: --system would need the pulse
    // user and its fixed socket.
    if (!m_pulse.start(QStringLiteral("pulseaudio"),
                       {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--system=no"),
                        QStringLiteral("--use-pid-file=no"), QStringLiteral("--exit-idle-time=-1"),
                        QStringLiteral("--disallow-exit"), QStringLiteral("--log-target=stderr"),
                        QStringLiteral("-F"), script},
                       options))
        return fail(QStringLiteral("cannot run pulseaudio"));
    const bool up = waitUntil([] {
        return runProgram(QStringLiteral("pactl"), {QStringLiteral("info")}, milliseconds(2000)) == 0;
    }, kStartLimit);
    return up || fail(QStringLiteral("PulseAudio did not come up:\n") + logTail(QStringLiteral("pulse")));
}

TargetApp *DesktopHarness::startTarget(bool accessible)
{
    const QString name = QStringLiteral("target-%1").arg(m_targets.size() + 1);
    const QString directory = runDir() + QLatin1Char('/') + name;
    QDir().mkpath(directory);
    auto target = std::make_unique<TargetApp>(directory, logPath(name));
    if (!target->start(accessible)) {
        m_error = target->errorString() + QLatin1Char('\n') + logTail(name);
        return nullptr;
    }
    m_targets.push_back(std::move(target));
    return m_targets.back().get();
}

bool DesktopHarness::playIntoMicrophone(const QString &soundFile, bool wait)
{
    // A short buffer: playback starts at once, and the null sink drops about
    // a buffer's worth of the start of a stream from its monitor.
    const QStringList arguments{QStringLiteral("--device=tavrune_mic"), QStringLiteral("--latency-msec=10"), soundFile};
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
