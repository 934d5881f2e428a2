#include "DesktopHarness.h"
#include "pipeline/TextInjectionService.h"
#include "platform/Accessibility.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/FutureWait.h"
#include "support/MonotonicClock.h"

#include <QtTest>

#include <csignal>

// Text typed through AT-SPI into a real Qt application on a real desktop.
class tst_TextInjectionViaAccessibility : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void replacesTheSelectionAtTheCursor();
    void readsRolesValuesAndSelectionsButNoPasswords();
    void hungApplicationDoesNotFreezeUs();

private:
    std::unique_ptr<TextInjectionService> m_injection;
    Accessibility &ax() { return Platform::instance().accessibility(); }
    Accessibility::ElementPtr focused();

    TargetApp *m_target = nullptr;
};

void tst_TextInjectionViaAccessibility::initTestCase()
{
    Platform::install(createLinuxPlatform());
    m_injection = std::make_unique<TextInjectionService>(Platform::instance(), MonotonicClock::system());
    m_target = m_desktop.startTarget(true);
    QVERIFY2(m_target, qPrintable(m_desktop.errorString()));
    // the bus answers but accessibility is off until we ask for it
    QVERIFY(!ax().isProcessTrusted());
    QVERIFY(ax().requestAccess());
    QVERIFY(ax().isProcessTrusted());
}

Accessibility::ElementPtr tst_TextInjectionViaAccessibility::focused()
{
    Accessibility::ElementPtr element;
    // the bridge announces the new focus asynchronously
    DesktopHarness::waitUntil([&] {
        element = ax().focusedElement(m_target->pid()).value;
        return element != nullptr;
    });
    return element;
}

void tst_TextInjectionViaAccessibility::replacesTheSelectionAtTheCursor()
{
    QVERIFY(m_target->setText(TargetApp::textArea, QStringLiteral("first line\nhello world, bye")));
    QVERIFY(m_target->focus(TargetApp::textArea));
    QVERIFY(m_target->select(TargetApp::textArea, 17, 22));
    QVERIFY(focused());

    Pasteboard &pasteboard = Platform::instance().pasteboard();
    const int clipboardWrites = pasteboard.changeCount();
    QVERIFY(waitForFuture(m_injection->inject(QStringLiteral("thérè 👋"))));
    QVERIFY2(m_target->waitForText(TargetApp::textArea, QStringLiteral("first line\nhello thérè 👋, bye")),
             qPrintable(m_target->text(TargetApp::textArea)));
    QCOMPARE(pasteboard.changeCount(), clipboardWrites);

    // the caret ends after the insertion, so the next dictation follows it
    QVERIFY(waitForFuture(m_injection->inject(QStringLiteral("!"))));
    QVERIFY2(m_target->waitForText(TargetApp::textArea, QStringLiteral("first line\nhello thérè 👋!, bye")),
             qPrintable(m_target->text(TargetApp::textArea)));
}

void tst_TextInjectionViaAccessibility::readsRolesValuesAndSelectionsButNoPasswords()
{
    QVERIFY(m_target->setText(TargetApp::lineEdit, QStringLiteral("one two")));
    QVERIFY(m_target->focus(TargetApp::lineEdit));
    QVERIFY(m_target->select(TargetApp::lineEdit, 4, 7));
    auto line = focused();
    QVERIFY(line);
    QCOMPARE(ax().role(*line).value, QStringLiteral("AXTextField"));
    QCOMPARE(ax().value(*line).value, QVariant(QStringLiteral("one two")));
    QCOMPARE(ax().selectedTextRange(*line).value, (Accessibility::TextRange{4, 3}));
    QCOMPARE(ax().selectedText(*line).value, QStringLiteral("two"));
    QVERIFY(ax().setValue(*line, QStringLiteral("replaced")) == Accessibility::Error::success);
    QVERIFY(m_target->waitForText(TargetApp::lineEdit, QStringLiteral("replaced")));
    // a read-only field refuses both writes
    QVERIFY(m_target->setReadOnly(TargetApp::lineEdit, true));
    QVERIFY(ax().setSelectedText(*line, QStringLiteral("x")) != Accessibility::Error::success);
    QVERIFY(ax().setValue(*line, QStringLiteral("x")) != Accessibility::Error::success);
    QVERIFY(m_target->setReadOnly(TargetApp::lineEdit, false));
    QCOMPARE(m_target->text(TargetApp::lineEdit), QStringLiteral("replaced"));

    QVERIFY(m_target->focus(TargetApp::textArea));
    auto area = focused();
    QVERIFY(area);
    QCOMPARE(ax().role(*area).value, QStringLiteral("AXTextArea"));

    // an application that is not on the bus has no focused element to give
    QVERIFY(!ax().focusedElement(QCoreApplication::applicationPid()).ok());

    // password fields are never read
    QVERIFY(m_target->setText(TargetApp::passwordEdit, QStringLiteral("secret")));
    QVERIFY(m_target->focus(TargetApp::passwordEdit));
    QVERIFY(m_target->select(TargetApp::passwordEdit, 0, 6));
    auto password = focused();
    QVERIFY(password);
    QCOMPARE(ax().role(*password).value, QStringLiteral("AXTextField"));
    QVERIFY(!ax().value(*password).ok());
    QVERIFY(!ax().selectedText(*password).ok());
}

void tst_TextInjectionViaAccessibility::hungApplicationDoesNotFreezeUs()
{
    QVERIFY(m_target->setText(TargetApp::textArea, QStringLiteral("keep me")));
    QVERIFY(m_target->focus(TargetApp::textArea));
    const auto element = focused();
    QVERIFY(element);
    ::kill(pid_t(m_target->pid()), SIGSTOP);
    QElapsedTimer elapsed;
    elapsed.start();
    const auto lookup = ax().focusedElement(m_target->pid());
    // a read that timed out is a failure, not an empty field to append to
    const auto value = ax().value(*element);
    const qint64 ms = elapsed.elapsed();
    ::kill(pid_t(m_target->pid()), SIGCONT);
    QVERIFY(!lookup.ok() && !lookup.value);
    QVERIFY(!value.ok());
    // D-Bus alone would wait 25 s for each
    QVERIFY2(ms < 5000, qPrintable(QString::number(ms)));
    QVERIFY(focused());
    QCOMPARE(m_target->text(TargetApp::textArea), QStringLiteral("keep me"));
}

TAVRUNE_E2E_MAIN(tst_TextInjectionViaAccessibility, (DesktopHarness::Options{.audio = false}))
#include "tst_TextInjectionViaAccessibility.moc"
