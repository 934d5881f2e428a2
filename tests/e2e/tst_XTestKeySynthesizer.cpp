#include "DesktopHarness.h"
#include "platform/KeyEventSource.h"
#include "platform/KeySynthesizer.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/X11Errors.h"
#include "platform/linux/XTestKeySynthesizer.h"
#include "support/LogCapture.h"

#include <QtTest>

#include <X11/Xlib.h>

// The paste key as the focused application receives it, and the
// applications of the desktop as the window manager lists them.
class tst_XTestKeySynthesizer : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void frontmostFollowsActivation();
    void waitsForTheUsersChordFirst_data();
    void waitsForTheUsersChordFirst();
    void terminalsGetTheShiftedChord_data();
    void terminalsGetTheShiftedChord();
    void unknownKeysPostNothing();
    void aFailedRequestEndsNothingWithQtOnAnotherPlatform();

private:
    TargetApp *m_first = nullptr;
    TargetApp *m_second = nullptr;
    TargetApp *m_terminal = nullptr;
};

void tst_XTestKeySynthesizer::initTestCase()
{
    Platform::install(createLinuxPlatform());
    m_first = m_desktop.startTarget(false);
    QVERIFY2(m_first, qPrintable(m_desktop.errorString()));
    m_second = m_desktop.startTarget(false);
    QVERIFY2(m_second, qPrintable(m_desktop.errorString()));
}

void tst_XTestKeySynthesizer::frontmostFollowsActivation()
{
    Workspace &workspace = Platform::instance().workspace();
    auto frontPid = [&] { return workspace.frontmostApplication().value_or(RunningApplication{}).processIdentifier; };
    QTRY_COMPARE(frontPid(), m_second->pid());

    const QList<RunningApplication> running = workspace.runningApplications();
    QList<qint64> pids;
    for (const RunningApplication &app : running)
        pids << app.processIdentifier;
    QCOMPARE(pids, (QList<qint64>{m_first->pid(), m_second->pid()}));
    QCOMPARE(running.first().window, m_first->windowId());
    QVERIFY(!running.first().localizedName.isEmpty());

    QVERIFY(workspace.activate(running.first()));
    QTRY_COMPARE(frontPid(), m_first->pid());
    QVERIFY(workspace.activate(running.last()));
    QTRY_COMPARE(frontPid(), m_second->pid());
}

void tst_XTestKeySynthesizer::waitsForTheUsersChordFirst_data()
{
    // what the user still holds, and the script that lets go of it
    QTest::addColumn<QString>("held");
    QTest::addColumn<QString>("release");
    QTest::newRow("modifier of the hold") << "alt" << "sleep 0.3; xdotool keyup alt";
    // the chord's grab would take the paste key for us while V is down
    QTest::newRow("key of the paste chord") << "ctrl+alt+v"
                                            << "sleep 0.1; xdotool keyup ctrl+alt; sleep 0.2; xdotool keyup v";
    // the keys are lifted for the target
    QTest::newRow("held past the limit") << "alt" << "sleep 2; xdotool keyup alt";
}

void tst_XTestKeySynthesizer::waitsForTheUsersChordFirst()
{
    QFETCH(QString, held);
    QFETCH(QString, release);
    const bool outlastsLimit = QTest::currentDataTag() == QByteArray("held past the limit");
    // our chords are grabbed while anyone watches for them
    KeyEventSource &keys = Platform::instance().keyEventSource();
    const auto monitor = keys.addGlobalMonitor(KeyEventSource::maskFor(KeyEventSource::EventType::keyDown),
                                               [](const KeyEventSource::KeyEvent &) {});
    const auto removeMonitor = qScopeGuard([&] { keys.removeMonitor(monitor); });

    QVERIFY(m_second->copyToClipboard(QStringLiteral("after release"), QStringLiteral("<p>after</p>")));
    QVERIFY(m_second->setText(TargetApp::lineEdit, QString()));
    QVERIFY(m_second->focus(TargetApp::lineEdit));
    QVERIFY(m_desktop.xdotool({QStringLiteral("keydown"), held}));
    ChildProcess releaser;
    QVERIFY(releaser.start(QStringLiteral("sh"), {QStringLiteral("-c"), release}));
    QElapsedTimer waited;
    waited.start();
    QVERIFY(Platform::instance().keySynthesizer().postKeyPress(Key::v, ModifierFlag::command));
    const qint64 limit = XTestKeySynthesizer::chordReleaseLimit.count();
    QVERIFY2(waited.elapsed() >= (outlastsLimit ? limit : 250), qPrintable(QString::number(waited.elapsed())));
    QVERIFY(waited.elapsed() < limit + (outlastsLimit ? 500 : 0));
    // Ctrl+Alt+V would not have pasted, nor would a Ctrl+V that went to the grab
    QVERIFY2(m_second->waitForText(TargetApp::lineEdit, QStringLiteral("after release")),
             qPrintable(m_second->text(TargetApp::lineEdit)));
}

void tst_XTestKeySynthesizer::terminalsGetTheShiftedChord_data()
{
    QTest::addColumn<quint16>("key");
    QTest::addColumn<QString>("received");
    // Ctrl+C would interrupt the program running in the terminal
    QTest::newRow("copy of read-aloud") << Key::c << "Ctrl+Shift+C";
    QTest::newRow("paste of the typing fallback") << Key::v << "Ctrl+Shift+V";
}

void tst_XTestKeySynthesizer::terminalsGetTheShiftedChord()
{
    QFETCH(quint16, key);
    QFETCH(QString, received);
    if (!m_terminal) {
        m_terminal = m_desktop.startTarget(false);
        QVERIFY2(m_terminal, qPrintable(m_desktop.errorString()));
        QVERIFY(m_desktop.xdotool({QStringLiteral("set_window"), QStringLiteral("--class"), QStringLiteral("XTerm"),
                                   QString::number(m_terminal->windowId())}));
    }
    QVERIFY(m_terminal->focus(TargetApp::lineEdit));
    QVERIFY(Platform::instance().keySynthesizer().postKeyPress(key, ModifierFlag::command));
    const auto lastKey = [&] {
        const QStringList keys = m_terminal->keysReceived();
        return keys.isEmpty() ? QString() : keys.last();
    };
    QTRY_COMPARE(lastKey(), received);
}

void tst_XTestKeySynthesizer::unknownKeysPostNothing()
{
    QVERIFY(!Platform::instance().keySynthesizer().postKeyPress(0x7f, ModifierFlag::command));
    QVERIFY(XTestKeySynthesizer::isTerminalClass(QStringLiteral("XTerm")));
    QVERIFY(!XTestKeySynthesizer::isTerminalClass(QStringLiteral("firefox")));
}

// Qt's X11 platform puts an Xlib error handler in place; on another one
// (Wayland, offscreen) only ours stands between a failed request, such as
// one about a window that has just closed, and Xlib's own, which ends the
// process.
void tst_XTestKeySynthesizer::aFailedRequestEndsNothingWithQtOnAnotherPlatform()
{
    const XErrorHandler qts = XSetErrorHandler(nullptr); // Xlib's own again
    const auto restore = qScopeGuard([qts] { XSetErrorHandler(qts); });
    Display *display = openX11Display();
    QVERIFY(display);
    const auto close = qScopeGuard([display] { XCloseDisplay(display); });
    const Window closed = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(display, closed);

    LogCapture log;
    XMapWindow(display, closed);
    XSync(display, False);
    QVERIFY2(log.contains(QStringLiteral("[X11] A request failed and was ignored: BadWindow")),
             qPrintable(log.lines().join(QLatin1Char('\n'))));
}

TAVRUNE_E2E_MAIN(tst_XTestKeySynthesizer, (DesktopHarness::Options{.accessibility = false, .audio = false}))
#include "tst_XTestKeySynthesizer.moc"
