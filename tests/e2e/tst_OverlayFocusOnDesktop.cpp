#include "DesktopHarness.h"
#include "app/DictationOverlayModel.h"
#include "app/DictationOverlayPanel.h"
#include "app/UiModule.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/X11Compositor.h"

#include <QQmlEngine>
#include <QQuickView>
#include <QtTest>

// The overlay floats over the application being dictated into without ever
// taking its focus: typing still lands in that application.
class tst_OverlayFocusOnDesktop : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void showingTheOverlayLeavesTheTargetFocused();

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

TAVRUNE_E2E_MAIN(tst_OverlayFocusOnDesktop, DesktopHarness::Options{})
#include "tst_OverlayFocusOnDesktop.moc"
