#include "SpeechTestRig.h"
#include "support/FutureWait.h"

#include <QtTest>

namespace {
const PasteboardContents kUsersClipboard{{QStringLiteral("text/plain"), "user's text"},
                                         {QStringLiteral("text/html"), "<b>user's</b> text"},
                                         {QStringLiteral("image/png"), QByteArray("\x89PNG", 4)}};
}

class tst_SelectionReader : public QObject {
    Q_OBJECT
private slots:
    void readsTheSelection_data();
    void readsTheSelection();
    void aReadWhileALateCopyIsDueKeepsTheUsersClipboard();
};

void tst_SelectionReader::readsTheSelection_data()
{
    // "none": no application in front; "unfocused": one without accessible focus
    QTest::addColumn<QString>("front");
    QTest::addColumn<QString>("accessibleSelection");
    // when the target answers each copy, in ms after its key press; -1 never
    QTest::addColumn<int>("copyAfterMs");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("presses");
    QTest::newRow("through accessibility") << "field" << QStringLiteral("selected words") << -1
                                           << QStringLiteral("selected words") << 0;
    QTest::newRow("no accessible focus: copied") << "unfocused" << QString() << 0 << QStringLiteral("copied words") << 1;
    QTest::newRow("copied late, in time") << "field" << QString() << 400 << QStringLiteral("copied words") << 1;
    QTest::newRow("copy changed nothing") << "field" << QString() << -1 << QString() << 1;
    QTest::newRow("copy too late: undone still") << "field" << QString() << 1500 << QString() << 1;
    QTest::newRow("no application in front") << "none" << QString() << 0 << QString() << 0;
}

void tst_SelectionReader::readsTheSelection()
{
    QFETCH(QString, front);
    QFETCH(QString, accessibleSelection);
    QFETCH(int, copyAfterMs);
    QFETCH(QString, expected);
    QFETCH(int, presses);
    SpeechTestRig rig;
    FakePasteboard &pasteboard = rig.platform.fakePasteboard();
    pasteboard.simulateExternalWrite(kUsersClipboard);
    if (front != QLatin1String("none"))
        rig.platform.fakeWorkspace().frontmost = RunningApplication{7, {}, 0, {}};
    if (front == QLatin1String("field")) {
        const auto field = rig.platform.fakeAccessibility().focus(7);
        field->value = accessibleSelection;
        field->selection = Accessibility::TextRange{0, int(accessibleSelection.size())};
    }
    std::atomic<QThread *> pressedOn = nullptr;
    rig.platform.fakeKeySynthesizer().onPress = [&](const FakeKeySynthesizer::Press &) {
        pressedOn = QThread::currentThread();
        if (copyAfterMs < 0)
            return;
        QMetaObject::invokeMethod(&pasteboard, [&] {
            rig.clock.callAfter(std::chrono::milliseconds(copyAfterMs), &pasteboard,
                                [&] { pasteboard.setString(QStringLiteral("copied words")); });
        });
    };

    const QFuture<std::optional<QString>> read = rig.reader.readSelectedText();
    if (presses) {
        // the key leaves from the key sender's thread, and the wait for the
        // copy never blocks the caller
        QTRY_COMPARE(rig.clock.pendingCount(), copyAfterMs < 0 ? 1 : 2);
        QVERIFY(pressedOn && pressedOn != QThread::currentThread());
        QVERIFY(!read.isFinished());
    }
    rig.clock.advance(std::chrono::seconds(5));
    QVERIFY(waitForFuture(read));
    QCOMPARE(read.result().value_or(QString()), expected);
    QCOMPARE(rig.platform.fakeKeySynthesizer().presses,
             QList<FakeKeySynthesizer::Press>(presses, {Key::c, ModifierFlag::command}));
    // every format of the user's clipboard is back, or was never touched
    QCOMPARE(pasteboard.contents(), kUsersClipboard);
    QCOMPARE(rig.clock.pendingCount(), 0);
}

void tst_SelectionReader::aReadWhileALateCopyIsDueKeepsTheUsersClipboard()
{
    SpeechTestRig rig;
    FakePasteboard &pasteboard = rig.platform.fakePasteboard();
    pasteboard.simulateExternalWrite(kUsersClipboard);
    rig.platform.fakeWorkspace().frontmost = RunningApplication{7, {}, 0, {}};
    rig.platform.fakeAccessibility().focus(7);
    std::atomic<int> presses = 0;
    rig.platform.fakeKeySynthesizer().onPress = [&](const FakeKeySynthesizer::Press &) { ++presses; };

    const QFuture<std::optional<QString>> first = rig.reader.readSelectedText();
    QTRY_COMPARE(rig.clock.pendingCount(), 1); // watching the clipboard
    rig.clock.advance(std::chrono::seconds(1));
    QVERIFY(waitForFuture(first));
    QCOMPARE(first.result(), std::nullopt);

    // The first copy's answer lands, and the next read starts before it is undone.
    pasteboard.setString(QStringLiteral("copied words"));
    const QFuture<std::optional<QString>> second = rig.reader.readSelectedText();
    // its key press is answered on the event loop; time passes until the read ends
    const auto ended = [&] {
        rig.clock.advance(std::chrono::milliseconds(100));
        return second.isFinished();
    };
    QTRY_VERIFY(ended());
    QCOMPARE(presses.load(), 2);
    rig.clock.advance(std::chrono::seconds(5));
    QCOMPARE(pasteboard.contents(), kUsersClipboard);
    QCOMPARE(rig.clock.pendingCount(), 0);
}

QTEST_GUILESS_MAIN(tst_SelectionReader)
#include "tst_SelectionReader.moc"
