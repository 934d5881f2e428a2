#include "DesktopHarness.h"
#include "app/DictationOverlayModel.h"
#include "app/DictationOverlayPanel.h"
#include "app/UiModule.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/X11Compositor.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11Workspaces.h"

#include <QQmlEngine>
#include <QQuickView>
#include <QtTest>

#include <X11/Xlib.h>

// The overlay floats over the application being dictated into without ever
// taking its focus: typing still lands in that application.
class tst_OverlayFocusOnDesktop : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void showingTheOverlayLeavesTheTargetFocused();
    void draggedAndOnEveryWorkspaceWithoutTakingTheFocus();

private:
    TargetApp *m_target = nullptr;
};

void tst_OverlayFocusOnDesktop::initTestCase()
{
    Platform::install(createLinuxPlatform());
    m_target = m_desktop.startTarget(false);
    QVERIFY2(m_target, qPrintable(m_desktop.errorString()));
}

void tst_OverlayFocusOnDesktop::showingTheOverlayLeavesTheTargetFocused()
{
    QVERIFY(m_target->focus(TargetApp::textArea));
    Workspace &workspace = Platform::instance().workspace();
    auto frontPid = [&] { return workspace.frontmostApplication().value_or(RunningApplication{}).processIdentifier; };
    QTRY_COMPARE(frontPid(), m_target->pid());

    QQmlEngine engine;
    UiModule::install(engine);
    DictationOverlayModel model;
    DictationOverlayPanel panel(engine, model, x11CompositorRunning);
    DictationOverlayModel::Input listening;
    listening.isDictating = true;
    listening.mode = DictationMode::hold;
    listening.audioLevel = 0.5f;
    model.setInput(listening);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(panel.window()));

    // A dictation's worth of updates while the user keeps typing.
    QVERIFY(m_desktop.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
                               QStringLiteral("typed under the overlay")}));
    for (int i = 0; i < 10; ++i) {
        listening.liveTranscript += QStringLiteral("word ");
        model.setInput(listening);
        QTest::qWait(20);
    }
    DictationOverlayModel::Input refining = listening;
    refining.isDictating = false;
    refining.isRefining = true;
    model.setInput(refining);
    QVERIFY(m_target->waitForText(TargetApp::textArea, QStringLiteral("typed under the overlay")));
    QCOMPARE(frontPid(), m_target->pid());
    QVERIFY(!panel.window()->isActive());

    panel.hide();
    QTRY_VERIFY(!panel.isVisible());
    QCOMPARE(frontPid(), m_target->pid());
}

namespace {

bool viewable(unsigned long window)
{
    X11Connection x11;
    XWindowAttributes attributes;
    return x11.display() && XGetWindowAttributes(x11.display(), window, &attributes)
        && attributes.map_state == IsViewable;
}

} // namespace

void tst_OverlayFocusOnDesktop::draggedAndOnEveryWorkspaceWithoutTakingTheFocus()
{
    QVERIFY(m_target->focus(TargetApp::textArea));
    QVERIFY(m_target->setText(TargetApp::textArea, QString()));
    Workspace &workspace = Platform::instance().workspace();
    auto frontPid = [&] { return workspace.frontmostApplication().value_or(RunningApplication{}).processIdentifier; };
    QTRY_COMPARE(frontPid(), m_target->pid());

    QQmlEngine engine;
    UiModule::install(engine);
    DictationOverlayModel model;
    DictationOverlayPanel panel(engine, model, x11CompositorRunning, x11ShowOnEveryWorkspace);
    QQuickView *window = panel.window();
    DictationOverlayModel::Input listening;
    listening.isDictating = true;
    model.setInput(listening);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::qWait(100); // the window manager has placed it
    const QPoint centred = window->position();

    // Dragged by the card's background, in steps as a hand moves.
    const QPoint grip = window->mapToGlobal(QPoint(window->width() / 2, 12));
    const QPoint by(-300, -200);
    QVERIFY(m_desktop.xdotool({QStringLiteral("mousemove"), QString::number(grip.x()), QString::number(grip.y())}));
    QVERIFY(m_desktop.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")}));
    for (int step = 1; step <= 10; ++step) {
        const QPoint at = grip + by * step / 10;
        QVERIFY(m_desktop.xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())}));
        QTest::qWait(20);
    }
    QVERIFY(m_desktop.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}));
    // The move begins once the pointer has left the drag threshold behind.
    QTRY_VERIFY2((window->position() - (centred + by)).manhattanLength() <= 60,
                 qPrintable(QStringLiteral("at %1,%2").arg(window->x()).arg(window->y())));
    const QPoint dropped = window->position();
    QDir().mkpath(QStringLiteral(TAVRUNE_SCREENSHOT_DIR));
    QGuiApplication::primaryScreen()->grabWindow(0).save(QStringLiteral(TAVRUNE_SCREENSHOT_DIR "/overlay-moved.png"));
    QVERIFY(m_desktop.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
                               QStringLiteral("after the drag")}));
    QVERIFY(m_target->waitForText(TargetApp::textArea, QStringLiteral("after the drag")));
    QCOMPARE(frontPid(), m_target->pid());

    // Cards after the stop make it taller: it grows upwards from where it was put.
    const int bottom = window->geometry().bottom();
    const int height = window->height();
    DictationOverlayModel::Input refining;
    refining.isRefining = true;
    refining.liveTranscript = QStringLiteral("after the drag");
    model.setInput(refining);
    QTRY_VERIFY(window->height() > height);
    QTRY_COMPARE(window->geometry().bottom(), bottom);
    QCOMPARE(window->x(), dropped.x());

    // Switching workspaces during a dictation leaves it in view, the next one too.
    for (int dictation = 0; dictation < 2; ++dictation) {
        QVERIFY(m_desktop.xdotool({QStringLiteral("set_desktop"), QStringLiteral("1")}));
        // the switch is done once the target has gone
        QTRY_VERIFY(!viewable(m_target->windowId()));
        QVERIFY(viewable(window->winId()));
        QVERIFY(m_desktop.xdotool({QStringLiteral("set_desktop"), QStringLiteral("0")}));
        panel.hide();
        QTRY_VERIFY(!panel.isVisible());
        model.setInput(listening);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // centred again
        QTRY_COMPARE(window->position(), centred);
    }
    panel.hide();
    QTRY_VERIFY(!panel.isVisible());
}

TAVRUNE_E2E_MAIN(tst_OverlayFocusOnDesktop, DesktopHarness::Options{})
#include "tst_OverlayFocusOnDesktop.moc"
