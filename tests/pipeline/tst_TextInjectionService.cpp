#include "pipeline/TextInjectionService.h"
#include "platform/fake/FakePlatform.h"
#include "support/FutureWait.h"
#include "support/MonotonicClock.h"

#include <QtTest>

#include <memory>

using TextRange = Accessibility::TextRange;

namespace {
constexpr qint64 kTargetPid = 4242;
const PasteboardContents kRichClipboard{{QStringLiteral("text/plain"), "earlier copy"},
                                        {QStringLiteral("text/html"), "<b>earlier</b> copy"},
                                        {QStringLiteral("application/x-editor-spans"), QByteArray("\x01\x02", 2)}};
} // namespace

class tst_TextInjectionService : public QObject {
    Q_OBJECT
private slots:
    void init();
    void decidesPathByRoleAndValue_data();
    void decidesPathByRoleAndValue();
    void emptyTextTouchesNothing();
    void controlCharactersNeverReachTheTarget_data();
    void controlCharactersNeverReachTheTarget();
    void missingFrontmostAppOrFocusFallsBackToClipboard();
    void clipboardPasteRestoresEveryFormat();
    void quickSecondPasteStillRestoresTheUsersClipboard();
    void failedKeyEventStillRestores();

private:
    // Runs an injection step to its end.
    template <typename T>
    static void finish(QFuture<T> future) { QVERIFY(waitForFuture(future)); }
    bool insertViaAccessibility(const QString &text)
    {
        QFuture<bool> inserted = m_service->insertViaAccessibility(text);
        return waitForFuture(inserted) && inserted.result();
    }

    FakePlatform *m_platform = nullptr;
    std::unique_ptr<TextInjectionService> m_service;
};

void tst_TextInjectionService::init()
{
    m_platform = &FakePlatform::installNew();
    m_platform->fakeWorkspace().frontmost = RunningApplication{kTargetPid, QStringLiteral("Editor"), 7, QStringLiteral("Editor")};
    m_service = std::make_unique<TextInjectionService>(*m_platform, MonotonicClock::system());
}

void tst_TextInjectionService::decidesPathByRoleAndValue_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QVariant>("value"); // invalid = unreadable
    QTest::addColumn<bool>("selectionReadable");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QVariant>("expectedValue");
    QTest::addColumn<bool>("pasted");

    const QVariant unreadable;
    QTest::newRow("text area: selection replaced")
        << "AXTextArea" << QVariant("hello world") << true << true << QVariant("hello there") << false;
    QTest::newRow("text field without selection range: appended")
        << "AXTextField" << QVariant("old ") << false << true << QVariant("old there") << false;
    QTest::newRow("other role with text value: treated as text")
        << "AXUnknown" << QVariant("note ") << false << true << QVariant("note there") << false;
    QTest::newRow("button without value: clipboard")
        << "AXButton" << unreadable << false << true << unreadable << true;
    QTest::newRow("slider with a number: never written")
        << "AXSlider" << QVariant(0.5) << true << true << QVariant(0.5) << true;
    QTest::newRow("text field with unreadable value: content kept")
        << "AXTextField" << unreadable << false << true << unreadable << true;
    QTest::newRow("read-only field: clipboard")
        << "AXTextField" << QVariant("fixed") << true << false << QVariant("fixed") << true;
}

void tst_TextInjectionService::decidesPathByRoleAndValue()
{
    QFETCH(QString, role);
    QFETCH(QVariant, value);
    QFETCH(bool, selectionReadable);
    QFETCH(bool, editable);
    QFETCH(QVariant, expectedValue);
    QFETCH(bool, pasted);

    auto element = m_platform->fakeAccessibility().focus(kTargetPid);
    element->role = role;
    element->value = value.isValid() ? std::optional<QVariant>(value) : std::nullopt;
    element->selection = selectionReadable ? std::optional<TextRange>(TextRange{6, 5}) : std::nullopt;
    element->editable = editable;

    finish(m_service->inject(QStringLiteral("there")));
    QCOMPARE(element->value.value_or(QVariant()), expectedValue);
    QCOMPARE(m_platform->fakeKeySynthesizer().presses.size(), pasted ? 1 : 0);
    QCOMPARE(m_platform->fakePasteboard().changeCount(), pasted ? 1 : 0);
    if (pasted)
        QCOMPARE(m_platform->fakePasteboard().string(), QStringLiteral("there"));
}

void tst_TextInjectionService::emptyTextTouchesNothing()
{
    m_platform->fakeAccessibility().focus(kTargetPid);
    finish(m_service->inject(QString()));
    QVERIFY(m_platform->fakeAccessibility().calls.isEmpty());
    QCOMPARE(m_platform->fakePasteboard().changeCount(), 0);
}

void tst_TextInjectionService::controlCharactersNeverReachTheTarget_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("typed"); // empty: nothing typed at all

    // sized, so that a NUL inside stays
    const auto row = [](const char *name, const auto &text, const auto &typed) {
        QTest::newRow(name) << QString::fromUtf16(text, std::size(text) - 1)
                            << QString::fromUtf16(typed, std::size(typed) - 1);
    };
    row("tabs and line breaks stay", u"one\tcell\nnext line\r\nlast", u"one\tcell\nnext line\r\nlast");
    row("letters of every script stay", u"naïve 👩‍💻 Ελλάδα", u"naïve 👩‍💻 Ελλάδα");
    row("Ctrl+C, NUL, backspace and DEL go", u"a\u0003b\u0000c\u0008d\u007fe", u"abcde");
    row("colour sequences go whole", u"\u001b[1;31mred\u001b[0m text", u"red text");
    row("end of a bracketed paste goes", u"\u001b[201~echo owned\n", u"echo owned\n");
    row("title string ended by BEL goes", u"\u001b]0;title\u0007words", u"words");
    row("clipboard string ended by ST goes", u"\u001b]52;c;b3duZWQ=\u001b\\words", u"words");
    row("unterminated string loses only its opener", u"\u001b]not ended", u"not ended");
    row("charset switch goes", u"\u001b(0words\u001b(B", u"words");
    row("C1 sequence and C1 controls go", u"x\u009b2Jy\u0085z", u"xyz");
    row("lone ESC at the end goes", u"words\u001b", u"words");
    // a server's override would make the typed text read other than it is
    row("bidirectional embeddings and overrides go", u"a\u202ab\u202bc\u202cd\u202de\u202ef", u"abcdef");
    row("bidirectional isolates go", u"\u2066x\u2067y\u2068z\u2069", u"xyz");
    row("left-to-right and right-to-left marks stay", u"\u05e9\u05dc\u05d5\u05dd\u200e 42\u200f", u"\u05e9\u05dc\u05d5\u05dd\u200e 42\u200f");
    row("only controls: nothing typed", u"\u001b[A\u0003\u0004", u"");
}

// Whatever a server or a dictionary entry sends, no key but text reaches the
// focused element, on either path.
void tst_TextInjectionService::controlCharactersNeverReachTheTarget()
{
    QFETCH(QString, text);
    QFETCH(QString, typed);

    auto element = m_platform->fakeAccessibility().focus(kTargetPid);
    element->role = QStringLiteral("AXTextArea");
    finish(m_service->inject(text));
    QCOMPARE(element->value.value_or(QVariant()).toString(), typed);

    // a focused element that takes nothing: the clipboard path
    element->value.reset();
    element->role = QStringLiteral("AXButton");
    finish(m_service->inject(text));
    QCOMPARE(m_platform->fakePasteboard().changeCount(), typed.isEmpty() ? 0 : 1);
    QCOMPARE(m_platform->fakePasteboard().string(), typed);
    QCOMPARE(m_platform->fakeKeySynthesizer().presses.size(), typed.isEmpty() ? 0 : 1);
}

void tst_TextInjectionService::missingFrontmostAppOrFocusFallsBackToClipboard()
{
    m_platform->fakeWorkspace().frontmost.reset();
    QVERIFY(!insertViaAccessibility(QStringLiteral("x")));

    m_platform->fakeWorkspace().frontmost = RunningApplication{kTargetPid, {}, 0, {}};
    finish(m_service->inject(QStringLiteral("x")));
    QCOMPARE(m_platform->fakePasteboard().string(), QStringLiteral("x"));
    QCOMPARE(m_platform->fakeKeySynthesizer().presses.size(), 1);
}

void tst_TextInjectionService::clipboardPasteRestoresEveryFormat()
{
    FakePasteboard &pasteboard = m_platform->fakePasteboard();
    pasteboard.simulateExternalWrite(kRichClipboard);
    QString seenAtPaste;
    m_platform->fakeKeySynthesizer().onPress = [&](const FakeKeySynthesizer::Press &) { seenAtPaste = pasteboard.string(); };

    QElapsedTimer elapsed;
    elapsed.start();
    QFuture<void> pasted = m_service->pasteViaClipboard(QStringLiteral("naïve café 👍🏽"));
    // the pause before the key is a timer, not a sleep of the main thread
    QVERIFY(!pasted.isFinished());
    finish(pasted);
    QVERIFY(elapsed.elapsed() >= 50);

    const FakeKeySynthesizer::Press paste{Key::v, ModifierFlag::command};
    QCOMPARE(m_platform->fakeKeySynthesizer().presses, QList<FakeKeySynthesizer::Press>{paste});
    QCOMPARE(seenAtPaste, QStringLiteral("naïve café 👍🏽"));
    // the transcript stays until the target has had time to read it
    QCOMPARE(pasteboard.string(), QStringLiteral("naïve café 👍🏽"));
    QTRY_COMPARE_WITH_TIMEOUT(pasteboard.contents(), kRichClipboard, 2000);
    QVERIFY(elapsed.elapsed() >= 400);
}

void tst_TextInjectionService::quickSecondPasteStillRestoresTheUsersClipboard()
{
    FakePasteboard &pasteboard = m_platform->fakePasteboard();
    pasteboard.simulateExternalWrite(kRichClipboard);
    m_service->pasteViaClipboard(QStringLiteral("first"));
    finish(m_service->pasteViaClipboard(QStringLiteral("second")));
    QCOMPARE(pasteboard.string(), QStringLiteral("second"));
    // not "first": the user's own contents come back
    QTRY_COMPARE_WITH_TIMEOUT(pasteboard.contents(), kRichClipboard, 2000);
    QTest::qWait(100);
    QCOMPARE(pasteboard.contents(), kRichClipboard);
}

void tst_TextInjectionService::failedKeyEventStillRestores()
{
    FakePasteboard &pasteboard = m_platform->fakePasteboard();
    pasteboard.simulateExternalWrite(kRichClipboard);
    m_platform->fakeKeySynthesizer().failing = true;
    finish(m_service->pasteViaClipboard(QStringLiteral("lost?")));
    QCOMPARE(pasteboard.string(), QStringLiteral("lost?"));
    QTRY_COMPARE_WITH_TIMEOUT(pasteboard.contents(), kRichClipboard, 2000);
}

QTEST_GUILESS_MAIN(tst_TextInjectionService)
#include "tst_TextInjectionService.moc"
