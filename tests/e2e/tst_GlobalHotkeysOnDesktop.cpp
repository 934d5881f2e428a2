#include "support/HotkeyCalls.h"
#include "DesktopHarness.h"

#include "pipeline/GlobalHotkeyService.h"
#include "platform/KeyEventSource.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/X11Errors.h"
#include "support/LogCapture.h"

#include <QRasterWindow>
#include <QtTest>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <atomic>
#include <thread>

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

    void holdEndsWhenAltIsReleasedFirst();
    void heldKeyRepeatsDoNotEndTheHold();
    void heldToggleChordTogglesOnce();
    void otherChordsReachTheirCallbacks_data();
    void otherChordsReachTheirCallbacks();
    void chordsInOurOwnWindowDoNotConfuseTheNextOnes_data();
    void chordsInOurOwnWindowDoNotConfuseTheNextOnes();
    void chordGrabbedByAnotherClientIsReported();
    void mappingNoticesNeverFreeAChord();
    void aKeymapChangeGivesBackTheKeysItMoved();

private:
    bool keys(const QStringList &steps);
    bool waitForCalls(int count) { return DesktopHarness::waitUntil([&] { return m_calls.size() >= count; }, 5s); }
    // Gives late events a chance to arrive before asserting that none did.
    void settle() { DesktopHarness::waitUntil([] { return false; }, 300ms); }

    // Gives the keyboard focus to our own window or to the target's.
    bool activate(bool ours);

    std::unique_ptr<GlobalHotkeyService> m_service;
    QStringList m_calls;
    TargetApp *m_target = nullptr;
    QRasterWindow m_ownWindow;
};

void tst_GlobalHotkeysOnDesktop::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is not installed (scripts/bootstrap installs it)");
    Platform::install(createLinuxPlatform());
    m_ownWindow.resize(200, 100);
    m_ownWindow.show();
    m_target = m_desktop.startTarget(false);
    QVERIFY2(m_target, qPrintable(m_desktop.errorString()));
    QVERIFY(activate(false));
}

bool tst_GlobalHotkeysOnDesktop::activate(bool ours)
{
    if (!ours && !m_target->focus(TargetApp::lineEdit))
        return false;
    if (ours && !m_desktop.xdotool({"windowactivate", "--sync", QString::number(m_ownWindow.winId())}))
        return false;
    return DesktopHarness::waitUntil([ours] { return (qApp->applicationState() == Qt::ApplicationActive) == ours; });
}

void tst_GlobalHotkeysOnDesktop::init()
{
    m_calls.clear();
    m_service = std::make_unique<GlobalHotkeyService>();
    recordHotkeyCalls(*m_service, m_calls);
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

// Space released first is part of every other hold below.
void tst_GlobalHotkeysOnDesktop::holdEndsWhenAltIsReleasedFirst()
{
    // Space must not repeat: a repeat would also bring Alt's release to light
    Display *x = XOpenDisplay(nullptr);
    QVERIFY(x);
    XKeyboardControl control{};
    control.key = XKeysymToKeycode(x, XK_space);
    control.auto_repeat_mode = AutoRepeatModeOff;
    XChangeKeyboardControl(x, KBKey | KBAutoRepeatMode, &control);
    XSync(x, False);
    const auto restoreRepeat = qScopeGuard([&] {
        control.auto_repeat_mode = AutoRepeatModeDefault;
        XChangeKeyboardControl(x, KBKey | KBAutoRepeatMode, &control);
        XCloseDisplay(x);
    });

    QVERIFY(keys({"keydown alt", "keydown space"}));
    QVERIFY2(waitForCalls(1), qPrintable(m_calls.join(QLatin1Char(','))));
    QCOMPARE(m_calls, QStringList{"holdStart"});
    QVERIFY(m_service->isHolding());

    // the hold ends with Alt, while Space is still down
    QVERIFY(keys({"keyup alt"}));
    QVERIFY(waitForCalls(2));
    QVERIFY(keys({"keyup space"}));
    settle();
    QCOMPARE(m_calls, (QStringList{"holdStart", "holdRelease"}));
    QVERIFY(!m_service->isHolding());
}

void tst_GlobalHotkeysOnDesktop::heldKeyRepeatsDoNotEndTheHold()
{
    QList<bool> repeats; // isRepeat of each key-down
    KeyEventSource &source = Platform::instance().keyEventSource();
    const auto observer = source.addGlobalMonitor(KeyEventSource::maskFor(KeyEventSource::EventType::keyDown),
                                                  [&](const KeyEventSource::KeyEvent &e) { repeats << e.isRepeat; });
    const auto removeObserver = qScopeGuard([&] { source.removeMonitor(observer); });
    QVERIFY(keys({"keydown alt", "keydown space"}));
    // long enough for the server to start repeating Space
    DesktopHarness::waitUntil([&] { return repeats.count(true) >= 3; }, 3s);
    QVERIFY2(repeats.count(true) >= 3, "the key did not repeat, so nothing was tested");
    QCOMPARE(repeats.first(), false);
    QVERIFY(keys({"keyup space", "keyup alt"}));
    QVERIFY(waitForCalls(2));

    // a fresh press after the release is no repeat, so it starts a new hold
    repeats.clear();
    QVERIFY(keys({"keydown alt", "keydown space", "keyup space", "keyup alt"}));
    QVERIFY(waitForCalls(4));
    settle();
    QCOMPARE(repeats, QList<bool>{false});
    QCOMPARE(m_calls, (QStringList{"holdStart", "holdRelease", "holdStart", "holdRelease"}));
}

void tst_GlobalHotkeysOnDesktop::heldToggleChordTogglesOnce()
{
    int repeats = 0;
    KeyEventSource &source = Platform::instance().keyEventSource();
    const auto observer = source.addGlobalMonitor(KeyEventSource::maskFor(KeyEventSource::EventType::keyDown),
                                                  [&](const KeyEventSource::KeyEvent &e) { repeats += e.isRepeat; });
    const auto removeObserver = qScopeGuard([&] { source.removeMonitor(observer); });
    QVERIFY(keys({"keydown super", "keydown space"}));
    QVERIFY(waitForCalls(1));
    // The keyboard mapping changes while the chord is held (another keyboard
    // typed on, a layout switched), so the chords are grabbed anew.
    Display *x = XOpenDisplay(nullptr);
    QVERIFY(x);
    const KeyCode space = XKeysymToKeycode(x, XK_space);
    int symsPerCode = 0;
    KeySym *syms = XGetKeyboardMapping(x, space, 1, &symsPerCode);
    XChangeKeyboardMapping(x, space, symsPerCode, syms, 1);
    XFree(syms);
    XCloseDisplay(x);
    DesktopHarness::waitUntil([&] { return repeats >= 3; }, 3s);
    QVERIFY2(repeats >= 3, "the key did not repeat, so nothing was tested");
    QVERIFY(keys({"keyup space", "keyup super"}));
    settle();
    QCOMPARE(m_calls, QStringList{"toggle"});
}

void tst_GlobalHotkeysOnDesktop::otherChordsReachTheirCallbacks_data()
{
    // the lock key turned on for the row, none for a plain row
    QTest::addColumn<QString>("lock");
    QTest::newRow("plain") << QString();
    QTest::newRow("num lock on") << QStringLiteral("Num_Lock");
    QTest::newRow("caps lock on") << QStringLiteral("Caps_Lock");
}

void tst_GlobalHotkeysOnDesktop::otherChordsReachTheirCallbacks()
{
    QFETCH(QString, lock);
    if (!lock.isEmpty())
        QVERIFY(keys({"key " + lock}));
    const auto lockOff = qScopeGuard([&] {
        if (!lock.isEmpty())
            keys({"key " + lock});
    });
    // Super is released after the toggle's grab ends, out of our sight; the
    // hold that follows must not be taken for another toggle.
    QVERIFY(keys({"key super+space", "keydown alt", "keydown space", "keyup space", "keyup alt", "key ctrl+alt+v",
                  "key ctrl+alt+s", "key ctrl+alt+r", "key ctrl+alt+shift+v"}));
    QVERIFY2(waitForCalls(6), qPrintable(m_calls.join(QLatin1Char(','))));
    settle();
    QCOMPARE(m_calls, (QStringList{"toggle", "holdStart", "holdRelease", "fallbackPaste", "summarize", "speakAgain"}));
}

void tst_GlobalHotkeysOnDesktop::chordsInOurOwnWindowDoNotConfuseTheNextOnes_data()
{
    // each step: "ours" or "other" to move the focus, else a chord
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("toggle here, then elsewhere")
        << QStringList{"ours", "super+space", "other", "super+space"} << QStringList{"toggle"};
    QTest::newRow("hold here after a toggle elsewhere, then elsewhere")
        << QStringList{"other", "super+space", "ours", "alt+space", "other", "alt+space"}
        << QStringList{"toggle", "holdStart", "holdRelease", "holdStart", "holdRelease"};
}

void tst_GlobalHotkeysOnDesktop::chordsInOurOwnWindowDoNotConfuseTheNextOnes()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, calls);
    for (const QString &step : steps) {
        if (step == "ours" || step == "other") {
            QVERIFY(activate(step == "ours"));
            continue;
        }
        // Space comes up first: the modifier's release then goes to the
        // focused window, out of our sight
        const QString modifier = step.section(QLatin1Char('+'), 0, 0);
        QVERIFY(keys({"keydown " + modifier, "keydown space", "keyup space", "keyup " + modifier}));
        settle();
    }
    QVERIFY(activate(false));
    QCOMPARE(m_calls.join(' '), calls.join(' '));
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
    QCOMPARE(m_service->unavailableChords(), QStringList{QStringLiteral("Ctrl Alt R")});

    // the other chords still work
    QVERIFY(keys({"key ctrl+alt+s"}));
    QVERIFY(waitForCalls(1));
    QCOMPARE(m_calls, QStringList{"summarize"});
}

// The server sends a mapping notice at every switch between keyboards (a real
// one and XTest's), mostly with nothing changed. A chord given up to be
// grabbed again is free for a moment: a press then goes to the focused window,
// and another program may take the chord.
void tst_GlobalHotkeysOnDesktop::mappingNoticesNeverFreeAChord()
{
    Display *x = XOpenDisplay(nullptr);
    QVERIFY(x);
    const auto closeDisplay = qScopeGuard([&] { XCloseDisplay(x); });
    const KeyCode space = XKeysymToKeycode(x, XK_space);
    int symsPerCode = 0;
    KeySym *syms = XGetKeyboardMapping(x, space, 1, &symsPerCode);
    const auto freeSyms = qScopeGuard([&] { XFree(syms); });

    // Another client tries to take Alt+Space all along; on a connection of
    // its own kind, so its refusals go to no process-wide error handler.
    std::atomic<bool> stop = false;
    std::atomic<int> taken = 0;
    std::thread rival([&] {
        xcb_connection_t *c = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        while (!stop && !xcb_connection_has_error(c)) {
            const xcb_void_cookie_t grab =
                xcb_grab_key_checked(c, 0, root, XCB_MOD_MASK_1, space, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t *refused = xcb_request_check(c, grab)) {
                free(refused);
                continue;
            }
            ++taken;
            xcb_ungrab_key(c, space, root, XCB_MOD_MASK_1);
        }
        xcb_disconnect(c);
    });
    for (int notice = 0; notice < 20; ++notice) {
        XChangeKeyboardMapping(x, space, symsPerCode, syms, 1);
        XSync(x, False);
        DesktopHarness::waitUntil([] { return false; }, 30ms); // ours handles it meanwhile
    }
    stop = true;
    rival.join();
    QCOMPARE(taken.load(), 0);
    QCOMPARE(m_service->unavailableChords(), QStringList());

    QVERIFY(keys({"keydown alt", "keydown space", "keyup space", "keyup alt"}));
    QVERIFY(waitForCalls(2));
    QCOMPARE(m_calls, (QStringList{"holdStart", "holdRelease"}));
}

// Another layout moves a chord's key to another key code: the chord follows
// it, and the key code it leaves is free for other programs again.
void tst_GlobalHotkeysOnDesktop::aKeymapChangeGivesBackTheKeysItMoved()
{
    Display *x = XOpenDisplay(nullptr);
    QVERIFY(x);
    const auto closeDisplay = qScopeGuard([&] { XCloseDisplay(x); });
    int minCode = 0, maxCode = 0;
    XDisplayKeycodes(x, &minCode, &maxCode);
    int symsPerCode = 0;
    KeySym *map = XGetKeyboardMapping(x, KeyCode(minCode), maxCode - minCode + 1, &symsPerCode);
    const auto symsOf = [&](int code) {
        const KeySym *first = map + (code - minCode) * symsPerCode;
        return std::vector<KeySym>(first, first + symsPerCode);
    };
    const std::vector<KeySym> none(symsPerCode, NoSymbol);
    int unused = maxCode;
    while (unused > minCode && symsOf(unused) != none)
        --unused;
    const int r = XKeysymToKeycode(x, XK_r);
    const std::vector<KeySym> rSyms = symsOf(r);
    XFree(map);
    QVERIFY(unused > minCode && r != 0);

    XChangeKeyboardMapping(x, unused, symsPerCode, const_cast<KeySym *>(rSyms.data()), 1);
    XChangeKeyboardMapping(x, r, symsPerCode, const_cast<KeySym *>(none.data()), 1);
    XSync(x, False);
    const auto restoreMapping = qScopeGuard([&] {
        XChangeKeyboardMapping(x, r, symsPerCode, const_cast<KeySym *>(rSyms.data()), 1);
        XChangeKeyboardMapping(x, unused, symsPerCode, const_cast<KeySym *>(none.data()), 1);
        XSync(x, False);
    });
    const auto anotherTakesTheOldKey = [&] {
        X11ErrorTrap trap(x);
        XGrabKey(x, r, ControlMask | Mod1Mask, DefaultRootWindow(x), False, GrabModeAsync, GrabModeAsync);
        XSync(x, False);
        if (trap.errorCode() != Success)
            return false;
        XUngrabKey(x, r, ControlMask | Mod1Mask, DefaultRootWindow(x));
        return true;
    };
    QVERIFY(DesktopHarness::waitUntil(anotherTakesTheOldKey, 3s));

    QVERIFY(keys({"key ctrl+alt+r"}));
    QVERIFY(waitForCalls(1));
    QCOMPARE(m_calls, QStringList{"speakAgain"});
}

TAVRUNE_E2E_MAIN(tst_GlobalHotkeysOnDesktop, (DesktopHarness::Options{true, false, false}))
#include "tst_GlobalHotkeysOnDesktop.moc"
