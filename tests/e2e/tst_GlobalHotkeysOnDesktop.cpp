#include "DesktopHarness.h"

#include "pipeline/GlobalHotkeyService.h"
#include "platform/KeyEventSource.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/LogCapture.h"

#include <QtTest>

#include <X11/Xlib.h>
#include <X11/keysym.h>

using namespace std::chrono_literals;

// The hotkey service on the real X11 backend: chords typed with xdotool
// (XTest, so they pass through the server's grab logic like a real keyboard)
// while another application has the focus.
class tst_GlobalHotkeysOnDesktop : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void holdEndsWhicheverKeyIsReleasedFirst_data();
    void holdEndsWhicheverKeyIsReleasedFirst();
    void heldKeyRepeatsDoNotEndTheHold();
    void otherChordsReachTheirCallbacks();
    void chordGrabbedByAnotherClientIsReported();

private:
    bool keys(const QStringList &steps);
    bool waitForCalls(int count) { return DesktopHarness::waitUntil([&] { return m_calls.size() >= count; }, 5s); }
    // Gives late events a chance to arrive before asserting that none did.
    void settle() { DesktopHarness::waitUntil([] { return false; }, 300ms); }

    std::unique_ptr<GlobalHotkeyService> m_service;
    QStringList m_calls;
};

void tst_GlobalHotkeysOnDesktop::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is not installed (scripts/bootstrap installs it)");
    Platform::install(createLinuxPlatform());
    TargetApp *target = m_desktop.startTarget(false);
    QVERIFY2(target, qPrintable(m_desktop.errorString()));
    QVERIFY(target->focus(TargetApp::lineEdit));
}

void tst_GlobalHotkeysOnDesktop::init()
{
    m_calls.clear();
    m_service = std::make_unique<GlobalHotkeyService>();
    auto record = [this](const char *name) { return [this, name] { m_calls.append(QLatin1String(name)); }; };
    m_service->onHoldStart = record("holdStart");
    m_service->onHoldRelease = record("holdRelease");
    m_service->onToggle = record("toggle");
    m_service->onFallbackPaste = record("fallbackPaste");
    m_service->onSummarizeAndSpeak = record("summarize");
    m_service->onSpeakAgain = record("speakAgain");
    m_service->start();
}

void tst_GlobalHotkeysOnDesktop::cleanup()
{
    m_service->stop(); // a released service leaves its grabs behind
    m_service.reset();
}

bool tst_GlobalHotkeysOnDesktop::keys(const QStringList &steps)
{
    return std::all_of(steps.begin(), steps.end(),
                       [this](const QString &step) { return m_desktop.xdotool(step.split(QLatin1Char(' '))); });
}

void tst_GlobalHotkeysOnDesktop::holdEndsWhicheverKeyIsReleasedFirst_data()
{
    QTest::addColumn<QStringList>("release");
    QTest::newRow("space first") << QStringList{"keyup space", "keyup alt"};
    QTest::newRow("alt first") << QStringList{"keyup alt", "keyup space"};
}

void tst_GlobalHotkeysOnDesktop::holdEndsWhicheverKeyIsReleasedFirst()
{
    QFETCH(QStringList, release);
    QVERIFY(keys({"keydown alt", "keydown space"}));
    QVERIFY2(waitForCalls(1), qPrintable(m_calls.join(QLatin1Char(','))));
    QCOMPARE(m_calls, QStringList{"holdStart"});
    QVERIFY(m_service->isHolding());

    QVERIFY(keys(release));
    QVERIFY(waitForCalls(2));
    settle();
    QCOMPARE(m_calls, (QStringList{"holdStart", "holdRelease"}));
    QVERIFY(!m_service->isHolding());
}

void tst_GlobalHotkeysOnDesktop::heldKeyRepeatsDoNotEndTheHold()
{
    int repeats = 0;
    KeyEventSource &source = Platform::instance().keyEventSource();
    const auto observer = source.addGlobalMonitor(KeyEventSource::maskFor(KeyEventSource::EventType::keyDown),
                                                  [&](const KeyEventSource::KeyEvent &e) { repeats += e.isRepeat; });
    QVERIFY(keys({"keydown alt", "keydown space"}));
    // long enough for the server to start repeating Space
    DesktopHarness::waitUntil([&] { return repeats >= 3; }, 3s);
    QVERIFY(keys({"keyup space", "keyup alt"}));
    QVERIFY(waitForCalls(2));
    settle();
    source.removeMonitor(observer);
    QCOMPARE(m_calls, (QStringList{"holdStart", "holdRelease"}));
    QVERIFY2(repeats >= 3, "the key did not repeat, so nothing was tested");
}

void tst_GlobalHotkeysOnDesktop::otherChordsReachTheirCallbacks()
{
    // Super is released after the toggle's grab ends, out of our sight; the
    // hold that follows must not be taken for another toggle.
    QVERIFY(keys({"key super+space", "keydown alt", "keydown space", "keyup space", "keyup alt", "key ctrl+alt+v",
                  "key ctrl+alt+s", "key ctrl+alt+r", "key ctrl+alt+shift+v"}));
    QVERIFY2(waitForCalls(6), qPrintable(m_calls.join(QLatin1Char(','))));
    settle();
    QCOMPARE(m_calls, (QStringList{"toggle", "holdStart", "holdRelease", "fallbackPaste", "summarize", "speakAgain"}));
}

void tst_GlobalHotkeysOnDesktop::chordGrabbedByAnotherClientIsReported()
{
    m_service->stop();
    Display *other = XOpenDisplay(nullptr);
    QVERIFY(other);
    const Window root = DefaultRootWindow(other);
    const int r = XKeysymToKeycode(other, XK_r);
    XGrabKey(other, r, ControlMask | Mod1Mask, root, False, GrabModeAsync, GrabModeAsync);
    XSync(other, False);

    LogCapture log;
    m_service->start();
    XCloseDisplay(other);
    QVERIFY2(log.contains(QStringLiteral("[Hotkey] Could not grab Ctrl Alt R: another program already uses it")),
             qPrintable(log.lines().join(QLatin1Char('\n'))));
    QCOMPARE(log.linesStartingWith(QStringLiteral("[Hotkey] Could not grab")).size(), 1);

    // the other chords still work
    QVERIFY(keys({"key ctrl+alt+s"}));
    QVERIFY(waitForCalls(1));
    QCOMPARE(m_calls, QStringList{"summarize"});
}

TAVRUNE_E2E_MAIN(tst_GlobalHotkeysOnDesktop, (DesktopHarness::Options{true, false, false}))
#include "tst_GlobalHotkeysOnDesktop.moc"
