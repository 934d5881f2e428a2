#include "app/DictationOverlayModel.h"
#include "app/DictationOverlayPanel.h"

#include "UiTestSupport.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QPointer>
#include <QQuickView>
#include <QScreen>
#include <QtTest>

#include <algorithm>

using Input = DictationOverlayModel::Input;
Q_DECLARE_METATYPE(Input)

class tst_DictationOverlayPanel : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void placedAboveTheBottomAndNeverFocused();
    void showAfterHideIsNotUndoneByTheFadeOut();
    void cardsGlideToTheirPlacesAndTheStackEasesToItsHeight();
    void screenshots_data();
    void screenshots();

private:
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<DictationOverlayModel> m_model;
    std::unique_ptr<DictationOverlayPanel> m_panel;
    bool m_compositing = false;
};

void tst_DictationOverlayPanel::init()
{
    m_engine = UiTest::makeEngine();
    m_model = std::make_unique<DictationOverlayModel>();
    m_panel = std::make_unique<DictationOverlayPanel>(*m_engine, *m_model, [this] { return m_compositing; });
    QVERIFY(m_panel->window()->rootObject());
}

void tst_DictationOverlayPanel::cleanup()
{
    m_panel.reset();
    m_model.reset();
    m_engine.reset();
}

void tst_DictationOverlayPanel::placedAboveTheBottomAndNeverFocused()
{
    QCOMPARE(DictationOverlayPanel::placement(QRect(0, 0, 1920, 1040), QSize(420, 100), 0), QPoint(750, 820));
    QCOMPARE(DictationOverlayPanel::placement(QRect(100, 30, 800, 600), QSize(468, 148), 24), QPoint(266, 386));

    QQuickView *window = m_panel->window();
    QVERIFY(window->flags().testFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                      | Qt::WindowDoesNotAcceptFocus));
    m_panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(window->geometry().bottom() + 1, available.bottom() + 1 - DictationOverlayPanel::bottomOffset);
    QCOMPARE(window->geometry().center().x(), available.center().x());
    QTRY_COMPARE(window->opacity(), 1.0);

    // More cards make the card taller; it grows upwards. Without a
    // compositor the window itself never grows while shown.
    Input in;
    in.liveTranscript = QStringLiteral("words");
    in.finalText = QStringLiteral("Words.");
    const QQuickItem *card = UiTest::findVisible(window->rootObject(), QStringLiteral("overlayPanel"));
    const qreal before = card->height();
    const QRect frame = window->geometry();
    m_model->setInput(in);
    QTRY_VERIFY(card->height() > before + 20);
    QCOMPARE(window->geometry(), frame);
    QCOMPARE(qRound(card->mapToGlobal(QPointF(0, card->height())).y()),
             available.bottom() + 1 - DictationOverlayPanel::bottomOffset);
}

void tst_DictationOverlayPanel::showAfterHideIsNotUndoneByTheFadeOut()
{
    m_panel->show();
    QTRY_COMPARE(m_panel->window()->opacity(), 1.0);
    m_panel->hide();
    QTRY_VERIFY(!m_panel->isVisible());

    m_panel->show();
    m_panel->hide();
    QTest::qWait(DictationOverlayPanel::fadeOutMs / 3);
    m_panel->show(); // the next dictation starts while the fade-out runs
    QTest::qWait(DictationOverlayPanel::fadeOutMs * 3);
    QVERIFY(m_panel->isVisible());
    QCOMPARE(m_panel->window()->opacity(), 1.0);
}

namespace {

// An eased move from `from` to `to`: it starts where it was, passes through
// the values between and never goes beyond either end.
void verifyGlides(const QList<UiTest::Sample> &samples, qreal from, qreal to)
{
    QVERIFY(samples.size() > 5);
    QVERIFY2(qAbs(samples.first().value - from) < qAbs(to - from) / 4, "jumped at once");
    const qreal low = qMin(from, to);
    const qreal high = qMax(from, to);
    int between = 0;
    for (const UiTest::Sample &sample : samples) {
        QVERIFY2(sample.value >= low - 0.5 && sample.value <= high + 0.5,
                 qPrintable(QStringLiteral("%1 at %2 ms").arg(sample.value).arg(sample.ms)));
        between += sample.value > low + 0.1 * (high - low) && sample.value < high - 0.1 * (high - low) ? 1 : 0;
    }
    QVERIFY2(between >= 2, "no values in between");
}

// The card and its shadow: the window can reach far above them.
QRect cardArea(QQuickView *window)
{
    const QQuickItem *card = UiTest::findVisible(window->rootObject(), QStringLiteral("overlayPanel"));
    const int margin = window->rootObject()->property("shadowMargin").toInt();
    return card->mapRectToScene(card->boundingRect()).toAlignedRect().adjusted(-margin, -margin, margin, margin);
}

} // namespace

void tst_DictationOverlayPanel::cardsGlideToTheirPlacesAndTheStackEasesToItsHeight()
{
    Input in;
    in.liveTranscript = QStringLiteral("buy milk");
    in.largeModelEnabled = true;
    in.isLargeModelProcessing = true;
    in.isPolishing = true;
    m_model->setInput(in);
    m_panel->show();
    QQuickView *window = m_panel->window();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QQuickItem *root = window->rootObject();
    QQuickItem *stack = UiTest::findVisible(root, QStringLiteral("stageList"));
    QVERIFY(stack);
    QTest::qWait(400); // the cards have come in
    QPointer<QQuickItem> large = UiTest::findVisible(root, QStringLiteral("stageCard_2"));
    QPointer<QQuickItem> polish = UiTest::findVisible(root, QStringLiteral("stageCard_3"));
    QVERIFY(large && polish);
    const auto top = [&](QQuickItem *card) { return card->mapToItem(stack, QPointF(0, 0)).y(); };

    // A refined text arrives: the cards below the Whisper Base card glide
    // down as it grows, and the stack eases to its new height.
    const qreal before = stack->height();
    const qreal largeWas = top(large);
    const qreal polishWas = top(polish);
    in.refinedTranscript = QStringLiteral("Buy milk and eggs on the way home, and call the plumber about the kitchen "
                                          "sink before Friday afternoon.");
    m_model->setInput(in);
    QList<UiTest::Sample> largeMoving;
    QList<UiTest::Sample> polishMoving;
    const QList<UiTest::Sample> growing = UiTest::sample(
        [&] {
            largeMoving.append({0, top(large)});
            polishMoving.append({0, top(polish)});
            return stack->height();
        },
        400);
    const qreal grown = stack->height();
    QVERIFY(grown > before + 10);
    verifyGlides(growing, before, grown);
    verifyGlides(largeMoving, largeWas, top(large));
    verifyGlides(polishMoving, polishWas, top(polish));
    QCOMPARE(top(large) - largeWas, grown - before);
    if (QTest::currentTestFailed())
        return;

    // The large model's card goes: it fades out moving up to the stack's top
    // edge, the polish card glides up into its place and the stack closes up.
    const qreal wasAt = top(large);
    const qreal polishAbove = top(polish);
    const qreal leavingHeight = large->height();
    in.largeModelEnabled = false;
    m_model->setInput(in);
    QList<UiTest::Sample> fading;
    QList<UiTest::Sample> rising;
    QList<UiTest::Sample> following;
    const QList<UiTest::Sample> closing = UiTest::sample(
        [&] {
            if (large && large->isVisible()) {
                fading.append({0, large->opacity()});
                rising.append({0, top(large)});
            }
            following.append({0, top(polish)});
            return stack->height();
        },
        400);
    verifyGlides(fading, 1, 0);
    verifyGlides(rising, wasAt, -leavingHeight);
    verifyGlides(following, polishAbove, wasAt);
    verifyGlides(closing, grown, stack->height());
    QCOMPARE(top(polish), wasAt);
    QVERIFY(stack->height() < grown - 10);
    QTRY_VERIFY(!large || !large->isVisible());
    UiTest::screenshot(window, QStringLiteral("overlay-card-left"), cardArea(window));
}

void tst_DictationOverlayPanel::screenshots_data()
{
    QTest::addColumn<Input>("input");
    QTest::addColumn<bool>("compositing");
    QTest::addColumn<int>("cards");
    QTest::addColumn<QString>("title");
    // texts drawn on the cards that a screen reader reads too
    QTest::addColumn<QStringList>("read");

    Input listening;
    listening.isDictating = true;
    listening.mode = DictationMode::hold;
    listening.audioLevel = 0.6f;
    listening.liveTranscript = QStringLiteral("Let's meet on Thursday at ten to go through the quarterly plan");
    QTest::newRow("overlay-listening") << listening << false << 0 << "Listening" << QStringList{};

    Input refining;
    refining.liveTranscript = QStringLiteral("Let's meet on Thursday at ten to go through the quarterly plan.");
    refining.largeModelEnabled = true;
    refining.refinedTranscript = QStringLiteral("Let's meet on Thursday at 10 to go through the quarterly plan.");
    refining.isLargeModelProcessing = true;
    refining.largeModelElapsedSeconds = 2.34;
    refining.statusText = QStringLiteral("Refining with Whisper...");
    QTest::newRow("overlay-three-stages") << refining << true << 3 << "Refining"
                                          << QStringList{"Live (on-device)", "Offline refinement", "Processing...", "2.3s"};

    Input done = refining;
    done.isLargeModelProcessing = false;
    done.largeModelTranscript = refining.refinedTranscript;
    done.finalText = QStringLiteral("Let's meet on Thursday at 10 to go through the quarterly plan.");
    done.statusText = QStringLiteral("Done");
    QTest::newRow("overlay-done") << done << false << 4 << "Done" << QStringList{"Highest accuracy", "Grammar & polish"};

    Input skipped;
    skipped.liveTranscript = QStringLiteral("Let's meet on Thursday at ten.");
    skipped.refiningFailure = QStringLiteral("Skipped: not installed");
    skipped.finalText = QStringLiteral("Let's meet on Thursday at ten.");
    skipped.statusText = QStringLiteral("Done");
    QTest::newRow("overlay-base-skipped") << skipped << false << 3 << "Done" << QStringList{"Skipped: not installed"};

    Input failed;
    failed.startFailed = true;
    failed.statusText = QStringLiteral("Failed to start: No Whisper ASR model is installed. Please download Whisper "
                                       "Base or Whisper Large first.");
    QTest::newRow("overlay-start-failed") << failed << true << 0 << "Not started" << QStringList{};
}

void tst_DictationOverlayPanel::screenshots()
{
    QFETCH(Input, input);
    QFETCH(bool, compositing);
    QFETCH(int, cards);
    QFETCH(QString, title);
    QFETCH(QStringList, read);
    m_compositing = compositing;
    m_model->setInput(input);
    m_panel->show();
    QQuickView *window = m_panel->window();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::qWait(300); // cards slide in

    QQuickItem *root = window->rootObject();
    QCOMPARE(UiTest::findVisible(root, QStringLiteral("statusTitle"))->property("text").toString(), title);
    auto shownCards = UiTest::findAll(root, [](QQuickItem *item) {
        return item->objectName().startsWith(QLatin1String("stageCard_")) && item->isVisible();
    });
    std::sort(shownCards.begin(), shownCards.end(),
              [](QQuickItem *a, QQuickItem *b) { return a->objectName() < b->objectName(); });
    QCOMPARE(shownCards.size(), cards);
    // each below the last, none over another
    for (qsizetype i = 1; i < shownCards.size(); ++i) {
        const qreal above = shownCards[i - 1]->mapToScene({0, shownCards[i - 1]->height()}).y();
        QCOMPARE(shownCards[i]->mapToScene({}).y(), above + 8);
    }
    const QStringList readable = UiTest::readableTexts(window);
    for (const QString &text : read)
        QVERIFY2(readable.contains(text), qPrintable(text));
    // the sparkles mean done: a start that failed shows a warning instead
    QCOMPARE(UiTest::findVisible(root, QStringLiteral("mascotWarning")) != nullptr, input.startFailed);
    QCOMPARE(UiTest::findVisible(root, QStringLiteral("mascotEmoji")) == nullptr, input.startFailed);
    // the whole reason shows, not only its first words, and nothing below it
    if (input.startFailed) {
        QQuickItem *hint = UiTest::findVisible(root, QStringLiteral("hintLine"));
        QVERIFY(hint->property("lineCount").toInt() > 1);
        QQuickItem *panel = UiTest::findVisible(root, QStringLiteral("overlayPanel"));
        QCOMPARE(panel->height() - hint->mapToItem(panel, QPointF(0, hint->height())).y(), 16.0);
    }

    const QImage image = UiTest::screenshot(window, QString::fromLatin1(QTest::currentDataTag()), cardArea(window));
    QVERIFY(UiTest::distinctColours(image) > 20);
    // Opaque panels have no black corners; every pixel inside is painted.
    if (!compositing)
        QCOMPARE(UiTest::shareOfColour(image.copy(image.width() / 2 - 5, 2, 10, 4), Qt::black, 60), 0.0);
    const QColor statusColour = title == QLatin1String("Refining") ? QColor(0x00, 0x7a, 0xff) : QColor(0xff, 0x3b, 0x30);
    if (title != QLatin1String("Done"))
        QVERIFY(UiTest::shareOfColour(image, statusColour) > 0.001);
}

QTEST_MAIN(tst_DictationOverlayPanel)
#include "tst_DictationOverlayPanel.moc"
