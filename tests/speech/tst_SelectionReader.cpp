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
};

void tst_SelectionReader::readsTheSelection_data()
{
    QTest::addColumn<bool>("frontmost");
    QTest::addColumn<QString>("accessibleSelection");
    // when the target answers the copy, in ms after the key press; -1 never
    QTest::addColumn<int>("copyAfterMs");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("presses");
    QTest::newRow("through accessibility") << true << QStringLiteral("selected words") << -1
                                           << QStringLiteral("selected words") << 0;
    QTest::newRow("copied at once") << true << QString() << 0 << QStringLiteral("copied words") << 1;
    QTest::newRow("copied late, in time") << true << QString() << 400 << QStringLiteral("copied words") << 1;
    QTest::newRow("copy changed nothing") << true << QString() << -1 << QString() << 1;
    QTest::newRow("copy too late") << true << QString() << 600 << QString() << 1;
    QTest::newRow("no application in front") << false << QString() << 0 << QString() << 0;
}

void tst_SelectionReader::readsTheSelection()
{
    QFETCH(bool, frontmost);
    QFETCH(QString, accessibleSelection);
    QFETCH(int, copyAfterMs);
    QFETCH(QString, expected);
    QFETCH(int, presses);
    SpeechTestRig rig;
    FakePasteboard &pasteboard = rig.platform.fakePasteboard();
    pasteboard.simulateExternalWrite(kUsersClipboard);
    if (frontmost)
        rig.platform.fakeWorkspace().frontmost = RunningApplication{7, {}, 0, {}};
    const auto field = rig.platform.fakeAccessibility().focus(7);
    field->value = accessibleSelection;
    field->selection = Accessibility::TextRange{0, int(accessibleSelection.size())};
    rig.platform.fakeKeySynthesizer().onPress = [&](const FakeKeySynthesizer::Press &) {
        if (copyAfterMs >= 0) {
            rig.clock.callAfter(std::chrono::milliseconds(copyAfterMs), &pasteboard,
                                [&] { pasteboard.setString(QStringLiteral("copied words")); });
        }
    };

    const QFuture<std::optional<QString>> read = rig.reader.readSelectedText();
    // the wait for the copy never blocks the caller
    if (presses)
        QVERIFY(!read.isFinished());
    rig.clock.advance(SelectionReader::copyTimeout + std::chrono::milliseconds(200));
    QVERIFY(waitForFuture(read));
    QCOMPARE(read.result().value_or(QString()), expected);
    const QList<FakeKeySynthesizer::Press> sent = rig.platform.fakeKeySynthesizer().presses;
    QCOMPARE(sent.size(), presses);
    if (presses)
        QCOMPARE(sent.first(), (FakeKeySynthesizer::Press{Key::c, ModifierFlag::command}));
    // every format of the user's clipboard is back, or was never touched
    if (copyAfterMs <= SelectionReader::copyTimeout.count())
        QCOMPARE(pasteboard.contents(), kUsersClipboard);
}

QTEST_GUILESS_MAIN(tst_SelectionReader)
#include "tst_SelectionReader.moc"
