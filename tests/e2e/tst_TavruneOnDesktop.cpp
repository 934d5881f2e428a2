#include "DesktopHarness.h"
#include "TavruneProcess.h"

#include "pipeline/CloudApiSettings.h"
#include "pipeline/WavEncoder.h"
#include "platform/linux/IniSettings.h"
#include "platform/linux/PocketsphinxRecognitionTask.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/XdgPaths.h"
#include "profile/VoiceProfileStore.h"
#include "support/LoopbackHttpServer.h"
#include "support/SynthesizedSpeech.h"
#include "support/WhisperModelWriter.h"

#include <QtTest>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#undef Bool // Xlib's, in the way of GLib's

#include <atspi/atspi.h>

using namespace std::chrono_literals;

namespace {
const QString kSelection = QStringLiteral("The quarterly report is finished. It covers sales and hiring. "
                                          "The appendix lists every office.");

QString xdotoolOutput(const QStringList &arguments)
{
    QByteArray output;
    return runProgram(QStringLiteral("xdotool"), arguments, 5s, &output) == 0 ? QString::fromLatin1(output).trimmed()
                                                                                : QString();
}

bool windowShown(const QString &title)
{
    return !xdotoolOutput({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                           QLatin1Char('^') + title + QLatin1Char('$')})
                .isEmpty();
}

// One object of an application's accessibility tree, as a screen reader sees it.
struct Accessible {
    QString name;
    AtspiRole role;
    bool focused;
    bool selected; // or checked
};

// Everything the process shows on the AT-SPI bus, depth first (object: where to start).
QList<Accessible> accessibleTree(qint64 pid, AtspiAccessible *object = nullptr)
{
    QList<Accessible> found;
    if (!object) {
        atspi_init();
        AtspiAccessible *desktop = atspi_get_desktop(0);
        for (gint i = 0; i < atspi_accessible_get_child_count(desktop, nullptr); ++i) {
            AtspiAccessible *application = atspi_accessible_get_child_at_index(desktop, i, nullptr);
            if (atspi_accessible_get_process_id(application, nullptr) == guint(pid)) {
                // windows opened since the last walk are missing from a cached tree
                atspi_accessible_set_cache_mask(application, ATSPI_CACHE_NONE);
                atspi_accessible_clear_cache(application);
                found = accessibleTree(pid, application);
            }
            g_object_unref(application);
        }
        g_object_unref(desktop);
        return found;
    }
    gchar *name = atspi_accessible_get_name(object, nullptr);
    AtspiStateSet *states = atspi_accessible_get_state_set(object);
    found.append({QString::fromUtf8(name), atspi_accessible_get_role(object, nullptr),
                  bool(atspi_state_set_contains(states, ATSPI_STATE_FOCUSED)),
                  atspi_state_set_contains(states, ATSPI_STATE_SELECTED) || atspi_state_set_contains(states, ATSPI_STATE_CHECKED)});
    g_free(name);
    g_object_unref(states);
    for (gint i = 0; i < atspi_accessible_get_child_count(object, nullptr); ++i) {
        AtspiAccessible *child = atspi_accessible_get_child_at_index(object, i, nullptr);
        found += accessibleTree(pid, child);
        g_object_unref(child);
    }
    return found;
}

// The first object whose name holds text, of this role unless it is ATSPI_ROLE_INVALID.
std::optional<Accessible> find(const QList<Accessible> &tree, const QString &text, AtspiRole role = ATSPI_ROLE_INVALID)
{
    const auto found = std::find_if(tree.cbegin(), tree.cend(), [&](const Accessible &object) {
        return object.name.contains(text) && (role == ATSPI_ROLE_INVALID || object.role == role);
    });
    return found == tree.cend() ? std::nullopt : std::optional(*found);
}

// Whether the process's live speech recogniser has worked through the audio it
// got: its thread then sleeps until more comes.
bool recogniserWaitsForAudio(qint64 pid)
{
    const QString tasks = QStringLiteral("/proc/%1/task/").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + task + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "tid (name) state ..."
        const QByteArray line = stat.readAll();
        const qsizetype nameEnd = line.lastIndexOf(')');
        if (line.mid(line.indexOf('(') + 1, nameEnd - line.indexOf('(') - 1) == PocketsphinxRecognitionTask::threadName)
            return line.mid(nameEnd + 2, 1) == "S";
    }
    return false;
}

} // namespace

// The application as a user runs it: its own process on a desktop with a
// tray, driven through the tray icon, the chords, the microphone and the
// loudspeakers only.
class tst_TavruneOnDesktop : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void accessibilityMessageOpensSettingsAndTheIconTheWindow();
    void menubarWindowIsUsableThroughAccessibilityAndKeys();
    void holdToTalkTypesAndTheOverlayComesAndGoes();
    void fallbackPasteTypesTheLastTextAgain();
    void summarizeAndSpeakReachesTheLoudspeakers();
    void secondLaunchOpensTheWindowOfTheFirstAndLeaves();
    void quitFromTheTrayEndsCleanlyAndKeepsTheSession();
    void terminatedWhileTheCloudIsAwaitedKeepsTheDictation();
    void dictationWithQtOnAnotherPlatformNeitherCrashesNorHangs();
    void launchedAgainWhileQuittingTheSecondRunsOnceTheFirstHasGone();
    void quitDuringTheLaunchsDownloadsEndsCleanly();

private:
    // Holds Alt+Space while the speech plays and the live recogniser catches up.
    void dictateTheSpeech();

    struct Window {
        QString id;
        QSize size;
    };
    // The visible windows of the application, smallest first.
    QList<Window> ourWindows() const;
    // Whether a window of this size shows: the menu-bar window is 380 x 560,
    // the settings window 480 x 520.
    bool shown(const QSize &size) const;
    // Clicks the middle of the window.
    void click(const Window &window, int button);

    std::unique_ptr<TavruneProcess> m_app;
    // Another client holding Super Space, as desktops that switch input sources with it do.
    X11Connection m_otherProgram;
    QString m_speech;
    Window m_trayIcon;
    TargetApp *m_target = nullptr;
    QString m_typed;
};

void tst_TavruneOnDesktop::initTestCase()
{
    for (const char *tool : {"espeak-ng", "sox", "xdotool", "parec", "trayer"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/bootstrap installs it)").arg(QLatin1String(tool))));
    }
    // half a second of silence first: the long playback buffer drops the start
    QList<float> speech(8000, 0.0f);
    speech += SynthesizedSpeech::samples(QStringLiteral("hello world, the weather is nice today"));
    QVERIFY(speech.size() > 8000);
    m_speech = m_desktop.runDir() + QStringLiteral("/speech.wav");
    QFile wav(m_speech);
    QVERIFY(wav.open(QIODevice::WriteOnly) && wav.write(WavEncoder::makeWAVData(speech)) > 0);
    wav.close();

    Display *other = m_otherProgram.display();
    XGrabKey(other, XKeysymToKeycode(other, XK_space), Mod4Mask, DefaultRootWindow(other), True, GrabModeAsync,
             GrabModeAsync);
    XSync(other, False);

    // the launch's downloads must not leave the machine
    qputenv("TAVRUNE_DOWNLOAD_BASE_URL", "http://127.0.0.1:9");
    // on the accessibility bus, though the desktop has not turned it on
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    m_app = std::make_unique<TavruneProcess>(m_desktop.runDir() + QStringLiteral("/tavrune.log"));
    QVERIFY(m_app->start(QStringLiteral(TAVRUNE_APP)));
    QVERIFY2(m_app->waitForLog(QStringLiteral("[AppDelegate] Setup complete"), 30s), qPrintable(m_app->log()));
    QVERIFY2(m_app->waitForLog(QStringLiteral("[Hotkey] Registered")), qPrintable(m_app->log()));
}

QList<tst_TavruneOnDesktop::Window> tst_TavruneOnDesktop::ourWindows() const
{
    QList<Window> windows;
    for (const QString &id : xdotoolOutput({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                            QStringLiteral("--pid"), QString::number(m_app->pid())})
                                 .split(u'\n', Qt::SkipEmptyParts)) {
        const QString shell = xdotoolOutput({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id});
        const auto value = [&](const char *key) {
            return QRegularExpression(QLatin1String(key) + QStringLiteral("=(\\d+)")).match(shell).captured(1).toInt();
        };
        windows.append({id, QSize(value("WIDTH"), value("HEIGHT"))});
    }
    std::sort(windows.begin(), windows.end(), [](const Window &a, const Window &b) {
        return a.size.width() * a.size.height() < b.size.width() * b.size.height();
    });
    return windows;
}

bool tst_TavruneOnDesktop::shown(const QSize &size) const
{
    const QList<Window> windows = ourWindows();
    return std::any_of(windows.cbegin(), windows.cend(), [&](const Window &w) { return w.size == size; });
}

void tst_TavruneOnDesktop::click(const Window &window, int button)
{
    QVERIFY(m_desktop.xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window.id,
                               QString::number(window.size.width() / 2), QString::number(window.size.height() / 2),
                               QStringLiteral("click"), QString::number(button)}));
}

void tst_TavruneOnDesktop::accessibilityMessageOpensSettingsAndTheIconTheWindow()
{
    QVERIFY2(!m_app->log().contains(QLatin1String("No system tray")), qPrintable(m_app->log()));
    // The test desktop's accessibility bus is off: a message stands beside the icon.
    QVERIFY(m_app->log().contains(QLatin1String("[AppDelegate] Requesting Accessibility permission")));
    // the chord another program holds is named in the same message
    QVERIFY(DesktopHarness::waitUntil([&] {
        const QList<Accessible> tree = accessibleTree(m_app->pid());
        return find(tree, QStringLiteral("needs accessibility")) && find(tree, QStringLiteral("Another program already uses Super Space"));
    }));
    QList<Window> windows;
    QVERIFY(DesktopHarness::waitUntil([&] { return (windows = ourWindows()).size() == 2; }));
    m_trayIcon = windows.first();
    // a click on the message opens the settings, where the chord is marked
    click(windows.last(), 1);
    QVERIFY2(DesktopHarness::waitUntil([&] { return shown({480, 520}); }), qPrintable(m_app->log()));
    QVERIFY(DesktopHarness::waitUntil([&] {
        return find(accessibleTree(m_app->pid()), QStringLiteral("Unavailable: another program uses it")).has_value();
    }));
    click(m_trayIcon, 1);
    QVERIFY(DesktopHarness::waitUntil([&] { return shown({380, 560}); }));
    click(m_trayIcon, 1);
    QVERIFY(DesktopHarness::waitUntil([&] { return !shown({380, 560}); }));
    click(m_trayIcon, 1);
    QVERIFY(DesktopHarness::waitUntil([&] { return shown({380, 560}); }));
    DesktopHarness::waitUntil([] { return false; }, 300ms); // drawn
    QDir().mkpath(QStringLiteral(TAVRUNE_SCREENSHOT_DIR));
    QGuiApplication::primaryScreen()->grabWindow(0).save(QStringLiteral(TAVRUNE_SCREENSHOT_DIR "/tray-window.png"));
}

void tst_TavruneOnDesktop::menubarWindowIsUsableThroughAccessibilityAndKeys()
{
    QList<Accessible> tree = accessibleTree(m_app->pid());
    for (const char *button : {"Start Dictation", "Quit Tavrune"})
        QVERIFY2(find(tree, QLatin1String(button), ATSPI_ROLE_PUSH_BUTTON), button);
    for (const char *tab : {"Home", "Dictionary", "Snippets", "Settings"})
        QVERIFY2(find(tree, QLatin1String(tab), ATSPI_ROLE_PAGE_TAB), tab);

    const QList<Window> windows = ourWindows();
    const auto window = std::find_if(windows.cbegin(), windows.cend(), [](const Window &w) { return w.size == QSize(380, 560); });
    QVERIFY(window != windows.cend());
    QVERIFY(m_desktop.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window->id}));
    for (int presses = 0; !find(tree, QStringLiteral("Settings"), ATSPI_ROLE_PAGE_TAB)->focused; ++presses) {
        QVERIFY2(presses < 40, "Tab never reaches the Settings tab");
        QVERIFY(m_desktop.xdotool({QStringLiteral("key"), QStringLiteral("Tab")}));
        DesktopHarness::waitUntil([] { return false; }, 50ms);
        tree = accessibleTree(m_app->pid());
    }
    QGuiApplication::primaryScreen()->grabWindow(0).save(QStringLiteral(TAVRUNE_SCREENSHOT_DIR "/tray-window-keyboard.png"));
    QVERIFY(m_desktop.xdotool({QStringLiteral("key"), QStringLiteral("space")}));
    QVERIFY(DesktopHarness::waitUntil(
        [&] { return find(accessibleTree(m_app->pid()), QStringLiteral("Settings"), ATSPI_ROLE_PAGE_TAB)->selected; }));
}

void tst_TavruneOnDesktop::dictateTheSpeech()
{
    QVERIFY(m_desktop.xdotool({QStringLiteral("keydown"), QStringLiteral("alt+space")}));
    QVERIFY2(m_app->waitForLog(QStringLiteral("[Coordinator] Dictation started")), qPrintable(m_app->log()));
    QVERIFY(DesktopHarness::waitUntil([] { return windowShown(QStringLiteral("Tavrune dictation")); }));
    QVERIFY(m_desktop.playIntoMicrophone(m_speech, true, 250ms));
    DesktopHarness::waitUntil([] { return false; }, 300ms); // the tail passes through the sink
    // A busy machine's recogniser falls seconds behind the microphone, and the
    // release waits for it only briefly: hold on until it has caught up (its
    // thread seen waiting for audio a few times running).
    int waitingSeen = 0;
    DesktopHarness::waitUntil([&] {
        waitingSeen = recogniserWaitsForAudio(m_app->pid()) ? waitingSeen + 1 : 0;
        return waitingSeen >= 3;
    }, 30s);
    QVERIFY(m_desktop.xdotool({QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("alt")}));
}

void tst_TavruneOnDesktop::holdToTalkTypesAndTheOverlayComesAndGoes()
{
    m_target = m_desktop.startTarget(true);
    QVERIFY2(m_target, qPrintable(m_desktop.errorString()));
    QVERIFY(m_target->focus(TargetApp::textArea));

    dictateTheSpeech();
    if (QTest::currentTestFailed())
        return;

    QVERIFY2(DesktopHarness::waitUntil([&] { return !m_target->text(TargetApp::textArea).isEmpty(); }, 15s),
             qPrintable(m_app->log()));
    // the overlay waits for the stages and then two more seconds
    QVERIFY(windowShown(QStringLiteral("Tavrune dictation")));
    QVERIFY2(m_app->waitForLog(QStringLiteral("[Coordinator] Weighted merge complete")), qPrintable(m_app->log()));
    QVERIFY(DesktopHarness::waitUntil([] { return !windowShown(QStringLiteral("Tavrune dictation")); }, 10s));
    m_typed = m_target->text(TargetApp::textArea);
    QVERIFY2(m_typed.contains(QLatin1String("world"), Qt::CaseInsensitive)
                 || m_typed.contains(QLatin1String("weather"), Qt::CaseInsensitive),
             qPrintable(m_typed));
}

void tst_TavruneOnDesktop::fallbackPasteTypesTheLastTextAgain()
{
    QVERIFY(!m_typed.isEmpty());
    QVERIFY(m_target->focus(TargetApp::textArea));
    QVERIFY(m_desktop.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+v")}));
    QVERIFY2(DesktopHarness::waitUntil([&] { return m_target->text(TargetApp::textArea).count(m_typed.trimmed()) == 2; }),
             qPrintable(m_target->text(TargetApp::textArea)));
}

void tst_TavruneOnDesktop::summarizeAndSpeakReachesTheLoudspeakers()
{
    QVERIFY(m_target->setText(TargetApp::textArea, kSelection));
    QVERIFY(m_target->focus(TargetApp::textArea));
    QVERIFY(m_target->select(TargetApp::textArea, 0, int(kSelection.size())));
    const QString recording = m_desktop.runDir() + QStringLiteral("/speakers.raw");
    ChildProcess recorder;
    QVERIFY(m_desktop.recordSpeakers(recorder, recording));
    QVERIFY(m_desktop.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+s")}));
    QVERIFY2(DesktopHarness::waitUntil([&] { return DesktopHarness::loudSeconds(recording) > 1.0; }, 20s), qPrintable(m_app->log()));
}

void tst_TavruneOnDesktop::secondLaunchOpensTheWindowOfTheFirstAndLeaves()
{
    if (shown({380, 560}))
        click(m_trayIcon, 1);
    QVERIFY(DesktopHarness::waitUntil([&] { return !shown({380, 560}); }));

    // from another session of the user, whose runtime folder is another
    const QString otherRuntime = m_desktop.runDir() + QStringLiteral("/runtime-second");
    QVERIFY(QDir().mkpath(otherRuntime));
    QVERIFY(QFile::setPermissions(otherRuntime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(otherRuntime));
    TavruneProcess second(m_desktop.runDir() + QStringLiteral("/tavrune-second.log"));
    const bool started = second.start(QStringLiteral(TAVRUNE_APP));
    qputenv("XDG_RUNTIME_DIR", runtime);
    QVERIFY(started);
    QVERIFY2(DesktopHarness::waitUntil([&] { return !second.isRunning(); }, 15s), qPrintable(second.log()));
    QCOMPARE(second.stop(), 0);
    QVERIFY2(second.log().contains(QLatin1String("Tavrune is already running")), qPrintable(second.log()));
    QVERIFY(DesktopHarness::waitUntil([&] { return shown({380, 560}); }));
    QVERIFY(m_app->isRunning());
}

void tst_TavruneOnDesktop::quitFromTheTrayEndsCleanlyAndKeepsTheSession()
{
    const qsizetype shown = ourWindows().size();
    click(m_trayIcon, 3);
    // the menu holds Settings… and Quit Tavrune, the last
    QVERIFY(DesktopHarness::waitUntil([&] { return ourWindows().size() > shown; }));
    QVERIFY(m_desktop.xdotool({QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return")}));
    QVERIFY2(DesktopHarness::waitUntil([&] { return !m_app->isRunning(); }, 10s), qPrintable(m_app->log()));
    QCOMPARE(m_app->stop(), 0);

    XdgPaths paths;
    VoiceProfileStore store(VoiceProfileStore::defaultDatabasePath(paths));
    const QList<VoiceProfileStore::RecentSession> sessions = store.recentSessions(10);
    QCOMPARE(sessions.size(), 1);
    QCOMPARE(sessions.first().rawTranscript.isEmpty(), false);
}

// SIGHUP (the terminal that started it closed) while the remote service has
// not answered: as at SIGTERM (a logout, a shutdown), the dictation is
// recorded with its live text before the process ends.
void tst_TavruneOnDesktop::terminatedWhileTheCloudIsAwaitedKeepsTheDictation()
{
    LoopbackHttpServer server;
    LoopbackHttpServer::Response silent;
    silent.headerDelayMs = 3'600'000;
    server.setResponse(QStringLiteral("/v1/transcribe"), silent);
    {
        IniSettings settings;
        settings.setValue(QStringLiteral("dictation/selectedASRModel"), QStringLiteral("cloudflareWhisper"));
        settings.setValue(CloudApiSettings::baseUrlKey, server.url(QStringLiteral("/v1")).toString());
        settings.setValue(CloudApiSettings::tokenKey, QStringLiteral("token"));
    }
    m_app = std::make_unique<TavruneProcess>(m_desktop.runDir() + QStringLiteral("/tavrune-cloud.log"));
    QVERIFY(m_app->start(QStringLiteral(TAVRUNE_APP)));
    QVERIFY2(m_app->waitForLog(QStringLiteral("[Hotkey] Registered"), 30s), qPrintable(m_app->log()));
    QVERIFY(m_target->setText(TargetApp::textArea, QString()));
    QVERIFY(m_target->focus(TargetApp::textArea));

    dictateTheSpeech();
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(DesktopHarness::waitUntil([&] { return server.requestCount() == 1; }, 15s), qPrintable(m_app->log()));
    QCOMPARE(m_app->stop(5s, SIGHUP), 0);
    QVERIFY2(m_app->log().contains(QLatin1String("[Coordinator] Quitting before the dictation was delivered")),
             qPrintable(m_app->log()));
    QCOMPARE(m_target->text(TargetApp::textArea), QString());

    XdgPaths paths;
    VoiceProfileStore store(VoiceProfileStore::defaultDatabasePath(paths));
    const QList<VoiceProfileStore::RecentSession> sessions = store.recentSessions(10);
    QCOMPARE(sessions.size(), 2);
    const QString live = sessions.first().rawTranscript;
    QVERIFY2(live.contains(QLatin1String("world"), Qt::CaseInsensitive)
                 || live.contains(QLatin1String("weather"), Qt::CaseInsensitive),
             qPrintable(live));
}

// Qt on a platform of its own while DISPLAY names an X server, as on Wayland
// with XWayland: the chords still come through X, the windows do not.
void tst_TavruneOnDesktop::dictationWithQtOnAnotherPlatformNeitherCrashesNorHangs()
{
    // one Tavrune at a time
    if (m_app->isRunning())
        QCOMPARE(m_app->stop(), 0);
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TavruneProcess app(m_desktop.runDir() + QStringLiteral("/tavrune-offscreen.log"));
    const bool started = app.start(QStringLiteral(TAVRUNE_APP));
    qputenv("QT_QPA_PLATFORM", platform);
    QVERIFY(started);
    QVERIFY2(app.waitForLog(QStringLiteral("[AppDelegate] Setup complete"), 30s), qPrintable(app.log()));

    QVERIFY(m_desktop.xdotool({QStringLiteral("keydown"), QStringLiteral("alt+space")}));
    // the overlay comes up once the dictation has started, or failed to
    const bool pressed = app.waitForLog(QStringLiteral("Hold START"), 5s);
    if (pressed)
        app.waitForLog(QStringLiteral("[AppDelegate] Dictation state: 1"), 5s);
    DesktopHarness::waitUntil([] { return false; }, 1s);
    QVERIFY(m_desktop.xdotool({QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("alt")}));
    DesktopHarness::waitUntil([] { return false; }, 1s);
    QVERIFY2(app.isRunning(), qPrintable(app.log()));
    QCOMPARE(app.stop(5000ms), 0);
    QVERIFY2(!app.log().contains(QLatin1String("X Error")), qPrintable(app.log()));
}

// A restart from the tray or by the desktop at login: the second launch comes
// while the first still tears down and holds the profile. The first is
// stopped there; its teardown is short, so it may have let go already, and
// then the case is tried again.
void tst_TavruneOnDesktop::launchedAgainWhileQuittingTheSecondRunsOnceTheFirstHasGone()
{
    if (m_app->isRunning())
        QCOMPARE(m_app->stop(), 0);
    for (int attempt = 0; attempt < 3; ++attempt) {
        TavruneProcess first(m_desktop.runDir() + QStringLiteral("/tavrune-quitting-%1.log").arg(attempt));
        QVERIFY(first.start(QStringLiteral(TAVRUNE_APP)));
        QVERIFY2(first.waitForLog(QStringLiteral("[AppDelegate] Setup complete"), 30s), qPrintable(first.log()));
        const auto pid = static_cast<pid_t>(first.pid());
        ::kill(pid, SIGTERM);
        const QDeadlineTimer quitting(10s);
        while (!first.log().contains(QLatin1String("[SingleInstance] Quitting")) && !quitting.hasExpired())
            std::this_thread::sleep_for(1ms);
        ::kill(pid, SIGSTOP);
        const auto resume = qScopeGuard([pid] { ::kill(pid, SIGCONT); });
        QVERIFY2(!quitting.hasExpired(), qPrintable(first.log()));

        TavruneProcess second(m_desktop.runDir() + QStringLiteral("/tavrune-relaunched-%1.log").arg(attempt));
        QVERIFY(second.start(QStringLiteral(TAVRUNE_APP)));
        const auto logged = [&](const char *text) { return second.log().contains(QLatin1String(text)); };
        QVERIFY2(DesktopHarness::waitUntil(
                     [&] { return logged("does not answer; waiting") || logged("Setup complete") || !second.isRunning(); }, 15s),
                 qPrintable(second.log()));
        if (logged("Setup complete") && !logged("does not answer; waiting")) {
            QCOMPARE(second.stop(), 0);
            continue; // the first had let go before it was stopped
        }
        ::kill(pid, SIGCONT);
        QVERIFY2(DesktopHarness::waitUntil([&] { return !first.isRunning(); }, 10s), qPrintable(first.log()));
        QCOMPARE(first.stop(), 0);
        QVERIFY2(DesktopHarness::waitUntil([&] { return logged("Setup complete") || !second.isRunning(); }, 30s),
                 qPrintable(second.log()));
        QVERIFY2(second.isRunning(), qPrintable(second.log()));
        QCOMPARE(second.stop(), 0);
        return;
    }
    QSKIP("the first let go of the profile before it could be stopped, every time");
}

// Base installed without its encoder: every launch fetches the encoder (and
// Large), and a quit must end those transfers without a crash. (A quit while
// the connection is refused is the encoder fetcher's own test, where the
// moment can be chosen.)
void tst_TavruneOnDesktop::quitDuringTheLaunchsDownloadsEndsCleanly()
{
    if (m_app->isRunning())
        QCOMPARE(m_app->stop(), 0);
    XdgPaths paths;
    const QString base = *paths.appGroupContainer() + QStringLiteral("/OfflineModels/ggml-base.bin");
    if (!QFileInfo::exists(base)) {
        QVERIFY(QDir().mkpath(QFileInfo(base).path()));
        QCOMPARE(WhisperModelWriter::writeModel(base, WhisperModelShape::base(), 3), QString());
    }
    LoopbackHttpServer server;
    server.setHandler([](const LoopbackHttpServer::Request &) {
        LoopbackHttpServer::Response slow = LoopbackHttpServer::Response::generated(50'000'000, 9, "PK\x03\x04");
        slow.stallAfterBytes = 1'000'000;
        return slow;
    });
    const QByteArray downloads = qgetenv("TAVRUNE_DOWNLOAD_BASE_URL");
    qputenv("TAVRUNE_DOWNLOAD_BASE_URL", server.url().toEncoded());
    TavruneProcess app(m_desktop.runDir() + QStringLiteral("/tavrune-downloads.log"));
    const bool started = app.start(QStringLiteral(TAVRUNE_APP));
    qputenv("TAVRUNE_DOWNLOAD_BASE_URL", downloads);
    QVERIFY(started);
    QVERIFY2(app.waitForLog(QStringLiteral("[CoreML] Downloading encoder for ggml-base.bin"), 30s), qPrintable(app.log()));
    QVERIFY2(DesktopHarness::waitUntil(
                     [&] {
                         const auto requests = server.requests();
                         return std::any_of(requests.cbegin(), requests.cend(), [](const auto &request) {
                             return request.path().endsWith(QLatin1String("-encoder.mlmodelc.zip"));
                         });
                     },
                     15s),
                 qPrintable(app.log()));
    QCOMPARE(app.stop(), 0);
}

TAVRUNE_E2E_MAIN(tst_TavruneOnDesktop, (DesktopHarness::Options{.trayHost = true}))
#include "tst_TavruneOnDesktop.moc"
