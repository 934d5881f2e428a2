#include "DesktopHarness.h"

#include <QtTest>

// The harness itself: if these fail, every other end-to-end suite would.
class tst_DesktopHarness : public QObject {
    Q_OBJECT
public:
    explicit tst_DesktopHarness(DesktopHarness &desktop)
        : m_desktop(desktop)
    {
    }

private slots:
    void keysTypedOnTheDesktopReachTheTarget();
    void microphoneSourceIsTheDefaultAt48kHz();

private:
    DesktopHarness &m_desktop;
};

void tst_DesktopHarness::keysTypedOnTheDesktopReachTheTarget()
{
    TargetApp *target = m_desktop.startTarget();
    QVERIFY2(target, qPrintable(m_desktop.errorString()));
    QVERIFY(target->setText(TargetApp::lineEdit, QStringLiteral("héllo wörld")));
    QVERIFY(target->waitForText(TargetApp::lineEdit, QStringLiteral("héllo wörld")));
    QVERIFY(target->setText(TargetApp::textArea, QStringLiteral("two\nlines")));
    QVERIFY(target->waitForText(TargetApp::textArea, QStringLiteral("two\nlines")));

    QVERIFY(target->focus(TargetApp::textArea));
    QVERIFY(target->select(TargetApp::textArea, 0, 3));
    QVERIFY(m_desktop.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"),
                               QStringLiteral("one")}));
    QVERIFY(target->waitForText(TargetApp::textArea, QStringLiteral("one\nlines")));
}

void tst_DesktopHarness::microphoneSourceIsTheDefaultAt48kHz()
{
    QByteArray info;
    QCOMPARE(runProgram(QStringLiteral("pactl"), {QStringLiteral("info")}, std::chrono::milliseconds(5000), &info), 0);
    QVERIFY2(info.contains("Default Source: " + m_desktop.microphoneSourceName().toUtf8()), info.constData());
    QByteArray sources;
    QCOMPARE(runProgram(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")},
                        std::chrono::milliseconds(5000), &sources),
             0);
    QVERIFY2(sources.contains("tavrune_mic.monitor") && sources.contains("48000Hz"), sources.constData());
}

TAVRUNE_E2E_MAIN(tst_DesktopHarness, DesktopHarness::Options{})
#include "tst_DesktopHarness.moc"
