// Tavrune: the tray application.

#include "app/AppContext.h"
#include "app/AppDelegate.h"
#include "app/MenubarExtra.h"
#include "app/SingleInstance.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/X11Compositor.h"
#include "platform/linux/X11Workspaces.h"
#include "platform/linux/XdgPaths.h"
#include "profile/VoiceProfileStore.h"

#include <QApplication>
#include <QFileInfo>
#include <QQmlEngine>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void forwardSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP (the terminal that started it closed) end the
// event loop like Quit does, so everything is torn down in order, the
// dictation under way is recorded and the exit status is 0.
void quitOnTerminationSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] const ssize_t read = ::read(signalPipe[1], &byte, 1);
        app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
}

// Set once main() has torn everything down in order.
std::atomic_bool tornDown = false;

// exit() called from elsewhere (Xlib when the X server goes, Qt when its X
// connection breaks) skips that teardown and destroys static objects, Qt's
// audio backend among them, while our worker threads still use them: end at
// once instead, before any of them goes. Registered once the launch has made
// those objects, so it runs first.
void endAtOnceUnlessTornDown()
{
    if (!tornDown)
        ::_exit(EXIT_FAILURE);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrune"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tavrune"));
    QApplication::setQuitOnLastWindowClosed(false);

    XdgPaths paths;
    SingleInstance instance(QFileInfo(VoiceProfileStore::defaultDatabasePath(paths)).path(), SingleInstance::socketFolder());
    switch (instance.claimOrHandOver()) {
    case SingleInstance::Outcome::claimed:
        break;
    case SingleInstance::Outcome::handedOver:
        return 0;
    case SingleInstance::Outcome::stillHeld:
        return 1;
    }
    // Only now: a launch that waits for the profile has nothing to tear down.
    quitOnTerminationSignals(app);
    // first, so that a launch during the teardown is not left waiting for an answer
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &instance, &SingleInstance::stopAnswering);

    AppContext::Options options;
    // Window hints only for X11 windows: on another platform (Wayland,
    // offscreen) a window id names no X window, even with DISPLAY set.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        options.compositing = x11CompositorRunning;
        options.showOnEveryWorkspace = x11ShowOnEveryWorkspace;
    }
    if (const QByteArray base = qgetenv(AppContext::downloadBaseVariable); !base.isEmpty())
        options.downloadBaseURL = QUrl(QString::fromUtf8(base));

    Platform::install(createLinuxPlatform());
    int status = 0;
    {
        AppContext context(Platform::instance(), options);
        QObject::connect(&context.qmlEngine(), &QQmlEngine::quit, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        MenubarExtra tray(context.qmlEngine(), context.viewModel(), context.viewServices());
        // the messages go to the icon, which shows right after the launch
        AppDelegate delegate(
            context, [&tray] { QTimer::singleShot(0, &tray, &MenubarExtra::showAccessibilityMessage); },
            [&tray](const QStringList &chords) {
                QTimer::singleShot(0, &tray, [&tray, chords] { tray.showChordsUnavailableMessage(chords); });
            },
            [&tray] { QTimer::singleShot(0, &tray, &MenubarExtra::showHotkeysUnavailableMessage); });
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
        delegate.tellWhenHistoryIsNotSaved(context.profileStore(),
                                           [&tray](const QString &message) { tray.tell(message); });
        delegate.applicationDidFinishLaunching();
        tray.install();
        QObject::connect(&instance, &SingleInstance::showRequested, &tray, &MenubarExtra::openWindow);
        std::atexit(endAtOnceUnlessTornDown);
        status = QApplication::exec();
    }
    // after everything that uses the platform's services, their threads included
    Platform::install(nullptr);
    tornDown = true;
    return status;
}
