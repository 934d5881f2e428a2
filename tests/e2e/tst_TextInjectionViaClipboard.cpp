#include "DesktopHarness.h"
#include "pipeline/TextInjectionService.h"
#include "platform/Accessibility.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/FutureWait.h"
#include "support/MonotonicClock.h"

#include <QClipboard>
#include <QtTest>

using namespace std::chrono;

// A desktop without accessibility: text arrives by the clipboard and the
// paste key, and the user's clipboard comes back whole afterwards.
class tst_TextInjectionViaClipboard : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void pastesAndRestoresTextAndHtml();
    void copyMadeDuringTheWaitSurvives();
    void selectingTextIsNoClipboardWrite();

private:
    std::unique_ptr<TextInjectionService> m_injection;
    // What another client gets for a clipboard format.
    QByteArray clipboardAsSeenByOthers(const QString &format);

    TargetApp *m_target = nullptr;
};

void tst_TextInjectionViaClipboard::initTestCase()
{
    Platform::install(createLinuxPlatform());
    m_injection = std::make_unique<TextInjectionService>(Platform::instance(), MonotonicClock::system());
    m_target = m_desktop.startTarget(false);
    QVERIFY2(m_target, qPrintable(m_desktop.errorString()));
    QVERIFY(!Platform::instance().accessibility().isProcessTrusted());
}

QByteArray tst_TextInjectionViaClipboard::clipboardAsSeenByOthers(const QString &format)
{
    QByteArray output;
    const int rc = runProgram(QStringLiteral("xclip"),
                              {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o"),
                               QStringLiteral("-t"), format},
                              milliseconds(5000), &output);
    return rc == 0 ? output : QByteArray("<xclip failed>");
}

void tst_TextInjectionViaClipboard::pastesAndRestoresTextAndHtml()
{
    Pasteboard &pasteboard = Platform::instance().pasteboard();
    const int before = pasteboard.changeCount();
    QVERIFY(m_target->copyToClipboard(QStringLiteral("earlier copy"), QStringLiteral("<b>earlier</b> copy")));
    // another client's write counts
    QTRY_VERIFY(pasteboard.changeCount() > before);

    QVERIFY(m_target->setText(TargetApp::textArea, QStringLiteral("Dear Ana, ")));
    QVERIFY(m_target->focus(TargetApp::textArea));
    QVERIFY(waitForFuture(m_injection->inject(QStringLiteral("thanks for the café ☕"))));
    QVERIFY2(m_target->waitForText(TargetApp::textArea, QStringLiteral("Dear Ana, thanks for the café ☕")),
             qPrintable(m_target->text(TargetApp::textArea)));

    QTRY_COMPARE_WITH_TIMEOUT(pasteboard.string(), QStringLiteral("earlier copy"), 3000);
    QCOMPARE(clipboardAsSeenByOthers(QStringLiteral("text/html")), QByteArray("<b>earlier</b> copy"));
    QCOMPARE(clipboardAsSeenByOthers(QStringLiteral("UTF8_STRING")), QByteArray("earlier copy"));
}

void tst_TextInjectionViaClipboard::copyMadeDuringTheWaitSurvives()
{
    QVERIFY(m_target->copyToClipboard(QStringLiteral("old"), QStringLiteral("<i>old</i>")));
    QVERIFY(m_target->focus(TargetApp::lineEdit));
    QVERIFY(waitForFuture(m_injection->inject(QStringLiteral("spoken"))));
    QVERIFY(m_target->waitForText(TargetApp::lineEdit, QStringLiteral("spoken")));
    QVERIFY(m_target->copyToClipboard(QStringLiteral("copied meanwhile"), QStringLiteral("<u>meanwhile</u>")));
    QTest::qWait(int(TextInjectionDelays{}.restore.count()) + 300);
    QCOMPARE(clipboardAsSeenByOthers(QStringLiteral("text/html")), QByteArray("<u>meanwhile</u>"));
    QCOMPARE(Platform::instance().pasteboard().string(), QStringLiteral("copied meanwhile"));
}

void tst_TextInjectionViaClipboard::selectingTextIsNoClipboardWrite()
{
    Pasteboard &pasteboard = Platform::instance().pasteboard();
    const int before = pasteboard.changeCount();
    QSignalSpy changes(QGuiApplication::clipboard(), &QClipboard::changed);
    // xclip stays behind as the selection's owner; the harness ends it
    ChildProcess owner;
    QVERIFY(owner.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("printf picked | xclip -selection primary")}));
    QTRY_VERIFY(changes.contains(QVariantList{QVariant::fromValue(QClipboard::Selection)}));
    QCOMPARE(pasteboard.changeCount(), before);
}

TAVRUNE_E2E_MAIN(tst_TextInjectionViaClipboard, (DesktopHarness::Options{.accessibility = false, .audio = false}))
#include "tst_TextInjectionViaClipboard.moc"
