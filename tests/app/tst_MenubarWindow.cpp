#include "support/CoordinatorRig.h"
#include "UiTestSupport.h"
#include "app/MenubarExtra.h"
#include "support/FutureWait.h"

#include <QAccessible>
#include <QQuickItem>
#include <QSystemTrayIcon>
#include <QtTest>

#include <algorithm>

class tst_MenubarWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_rig.reset(); }
    void startStopToggles();
    void aFailedStartSaysWhyBelowTheButton();
    void carouselPagesByItsDots();
    void headerMarksAChordAnotherProgramHolds();
    void searchNarrowsAndClearRestores();
    void showMoreExpandsLongTexts();
    void copyShowsACheckThatEachPressClearsInItsTime();
    void copyLeavesOutWhatWouldActInAPaste();
    void tabFollowsTheHistoryAsShown();
    void tabBringsTheFocusIntoView_data();
    void tabBringsTheFocusIntoView();
    void screenshots_data();
    void screenshots();
    void everyControlShowsItHasTheFocus_data();
    void everyControlShowsItHasTheFocus();
    void dictionaryAddsAndDeletesTerms();
    void snippetSheetSavesAndDeletes();
    void eachOpeningReadsOnceAndAfresh();
    void aClickOnTheIconWhileAMessageShowsOpensOnlyTheWindow();
    void withoutATrayTheWindowShowsTheMessages();

private:
    QQuickItem *item(const QString &name) { return m_rig->item(name); }
    QString text(const QString &name) { return m_rig->text(name); }
    void click(const QString &name) { m_rig->click(name); }
    void type(const QString &text) { UiTest::type(m_rig->view.get(), text); }
    QQuickItem *pressTab()
    {
        QTest::keyClick(m_rig->view.get(), Qt::Key_Tab);
        QTest::qWait(20); // the view scrolls once the focus has settled
        return m_rig->view->activeFocusItem();
    }

    std::unique_ptr<UiTest::ViewRig> m_rig;
};

void tst_MenubarWindow::init()
{
    m_rig = std::make_unique<UiTest::ViewRig>();
    QVERIFY(waitForFuture(m_rig->viewModel.pendingReload())); // the clock is read there
    VoiceProfileStore &store = m_rig->store;
    QDateTime now = QDateTime::currentDateTime().addSecs(-3600);
    store.setClock([now]() mutable { return now = now.addSecs(300); });
    store.logSession(4.2, 9, QStringLiteral("en"), QStringLiteral("um buy milk and eggs on the way home"),
                     QStringLiteral("Buy milk and eggs on the way home."));
    store.logSession(125, 21, QStringLiteral("en"),
                     QStringLiteral("Remind the team that the design review moves to Thursday afternoon, and that "
                                    "the slides need the new revenue figures before then."),
                     QString());
    store.logSession(42, 6, QStringLiteral("en"), QStringLiteral("meeting notes for friday"),
                     QStringLiteral("Meeting notes for Friday."));
    m_rig->show(QStringLiteral("MenubarWindow"));
    QTRY_VERIFY(item(QStringLiteral("copyButton"))); // the rows are drawn
}

void tst_MenubarWindow::startStopToggles()
{
    QCOMPARE(text(QStringLiteral("startStopLabel")), QStringLiteral("Start Dictation"));
    click(QStringLiteral("startStopButton"));
    QTRY_VERIFY(m_rig->coordinator->isStarting() || m_rig->coordinator->isDictating());
    QTRY_COMPARE(text(QStringLiteral("startStopLabel")), QStringLiteral("Stop"));
    click(QStringLiteral("startStopButton"));
    QTRY_VERIFY(!m_rig->coordinator->isDictating());
}

void tst_MenubarWindow::aFailedStartSaysWhyBelowTheButton()
{
    auto &transcriber = static_cast<RiggedCoordinator &>(*m_rig->coordinator).transcriber;
    transcriber.startFailure = QStringLiteral("No Whisper ASR model is installed.");
    QVERIFY(!UiTest::findVisible(m_rig->view->rootObject(), QStringLiteral("startFailure")));
    click(QStringLiteral("startStopButton"));
    QTRY_COMPARE(text(QStringLiteral("startFailure")),
                 QStringLiteral("Failed to start: No Whisper ASR model is installed."));
    QVERIFY(UiTest::readableTexts(m_rig->view.get()).contains(text(QStringLiteral("startFailure"))));
    QCOMPARE(text(QStringLiteral("startStopLabel")), QStringLiteral("Start Dictation"));
    UiTest::screenshot(m_rig->view.get(), QStringLiteral("menubar-start-failed"));

    transcriber.startFailure.reset();
    click(QStringLiteral("startStopButton"));
    QTRY_VERIFY(!UiTest::findVisible(m_rig->view->rootObject(), QStringLiteral("startFailure")));
}

void tst_MenubarWindow::carouselPagesByItsDots()
{
    QQuickItem *pages = item(QStringLiteral("statsPages"));
    click(QStringLiteral("pageDot_2"));
    QTRY_COMPARE(pages->property("currentIndex").toInt(), 2);
    click(QStringLiteral("pageDot_1"));
    QTRY_COMPARE(pages->property("currentIndex").toInt(), 1);
}

void tst_MenubarWindow::headerMarksAChordAnotherProgramHolds()
{
    QVERIFY(!item(QStringLiteral("chordWarning")));
    m_rig->viewModel.setUnavailableChords({QStringLiteral("Super Space")});
    QTRY_VERIFY(item(QStringLiteral("chordWarning")));
    const QList<QQuickItem *> warnings = UiTest::findAllVisible(m_rig->view->contentItem(), QStringLiteral("chordWarning"));
    QCOMPARE(warnings.size(), 1);
    QCOMPARE(warnings.first()->parentItem()->parentItem()->objectName(), QStringLiteral("headerChord_Super Space"));
    UiTest::screenshot(m_rig->view.get(), QStringLiteral("menubar-chord-unavailable"));
}

void tst_MenubarWindow::searchNarrowsAndClearRestores()
{
    QVERIFY(!item(QStringLiteral("clearSearchButton")));
    click(QStringLiteral("searchField"));
    type(QStringLiteral("MILK"));
    QTRY_COMPARE(text(QStringLiteral("recordingCount")), QStringLiteral("1 recording"));
    type(QStringLiteral("shake"));
    QTRY_COMPARE(text(QStringLiteral("emptyHistoryText")), QStringLiteral("No matches"));

    click(QStringLiteral("clearSearchButton"));
    QTRY_COMPARE(text(QStringLiteral("recordingCount")), QStringLiteral("3 recordings"));
    QCOMPARE(text(QStringLiteral("searchField")), QString());

    // from the keyboard: the button goes, and the field it cleared takes the focus
    type(QStringLiteral("milk"));
    QTRY_VERIFY(item(QStringLiteral("clearSearchButton")));
    QCOMPARE(pressTab(), item(QStringLiteral("clearSearchButton")));
    QTest::keyClick(m_rig->view.get(), Qt::Key_Space);
    QTRY_COMPARE(text(QStringLiteral("recordingCount")), QStringLiteral("3 recordings"));
    QCOMPARE(m_rig->view->activeFocusItem(), item(QStringLiteral("searchField")));
    UiTest::screenshot(m_rig->view.get(), QStringLiteral("menubar-search-cleared"));
}

void tst_MenubarWindow::showMoreExpandsLongTexts()
{
    const auto buttons = UiTest::findAllVisible(m_rig->view->contentItem(), QStringLiteral("showMoreButton"));
    QCOMPARE(buttons.size(), 1); // only the long entry
    QQuickItem *row = buttons.first();
    while (row->objectName() != QLatin1String("historyRow"))
        row = row->parentItem();
    QQuickItem *rowText = UiTest::findVisible(row, QStringLiteral("rowText"));
    QCOMPARE(rowText->property("lineCount").toInt(), 2);
    // The text's box springs open: no jump, a little past the end, then still.
    QQuickItem *box = UiTest::findVisible(row, QStringLiteral("rowTextBox"));
    QVERIFY(box);
    const qreal collapsed = box->height();
    UiTest::click(m_rig->view.get(), buttons.first());
    QTRY_VERIFY(rowText->property("lineCount").toInt() > 2);
    // the height as it springs, before the layout rounds it to whole pixels
    const QList<UiTest::Sample> opening = UiTest::sample([box] { return box->property("shownHeight").toReal(); }, 600);
    const qreal open = rowText->height();
    QCOMPARE(box->height(), open);
    QVERIFY(open > collapsed + 10);
    QVERIFY2(opening.first().value < open - (open - collapsed) / 4, "jumped open at once");
    const auto past = std::max_element(opening.cbegin(), opening.cend(), [](auto a, auto b) { return a.value < b.value; });
    // underdamped at 0.825 of critical: about 1% past the end, at about 0.22 s
    QVERIFY2(past->value > open + 0.002 * (open - collapsed) && past->value < open + 0.05 * (open - collapsed)
                 && past->ms > 100 && past->ms < 400,
             qPrintable(QStringLiteral("%1 at %2 ms").arg(past->value).arg(past->ms)));
    UiTest::screenshot(m_rig->view.get(), QStringLiteral("menubar-history-expanded"));

    // reopening reads the history again; the unchanged row stays expanded
    QPointer<QQuickItem> expanded = rowText;
    m_rig->view->hide();
    m_rig->view->show();
    QVERIFY(waitForFuture(m_rig->viewModel.pendingReload()));
    QTest::qWait(50);
    QVERIFY(expanded);
    QVERIFY(expanded->property("lineCount").toInt() > 2);
}

void tst_MenubarWindow::copyShowsACheckThatEachPressClearsInItsTime()
{
    QQuickItem *row = item(QStringLiteral("copyButton"));
    while (row->objectName() != QLatin1String("historyRow"))
        row = row->parentItem();
    const int period = 600;
    row->setProperty("copiedMs", period);
    QQuickItem *icon = UiTest::findVisible(row, QStringLiteral("copyIcon"));
    const auto symbol = [icon] { return icon->property("symbol").toString(); };
    FakePasteboard &pasteboard = m_rig->platform.fakePasteboard();

    QElapsedTimer sinceFirst;
    sinceFirst.start();
    click(QStringLiteral("copyButton"));
    // the newest entry's delivered text, not its raw transcript
    QCOMPARE(pasteboard.string(), QStringLiteral("Meeting notes for Friday."));
    QCOMPARE(symbol(), QStringLiteral("checkmark"));
    const int copies = pasteboard.changeCount();
    QTest::qWait(period / 2);
    click(QStringLiteral("copyButton"));
    const qint64 secondAt = sinceFirst.elapsed();
    QVERIFY2(secondAt < period, "the second press came after the first period");
    QVERIFY(pasteboard.changeCount() > copies); // copied again
    QCOMPARE(symbol(), QStringLiteral("checkmark"));
    // the first press's reset clears the check before the second's period is over
    QTRY_COMPARE(symbol(), QStringLiteral("doc.on.doc"));
    QVERIFY2(sinceFirst.elapsed() < secondAt + period, qPrintable(QStringLiteral("cleared at %1 ms, pressed again at %2 ms").arg(sinceFirst.elapsed()).arg(secondAt)));
}

// A row recorded as a remote service sent it, before such text was cleaned:
// pasted into a terminal, ESC [201~ would end its bracketed paste and run the
// line, and the override would show the name reversed.
void tst_MenubarWindow::copyLeavesOutWhatWouldActInAPaste()
{
    m_rig->view->hide();
    m_rig->store.logSession(3, 5, QStringLiteral("en"),
                            QStringLiteral("make a list\x1b[201~\nrm -r \u202Efdp\u202C now"), QString());
    m_rig->view->show();
    QVERIFY(waitForFuture(m_rig->viewModel.pendingReload()));
    QTRY_COMPARE(text(QStringLiteral("recordingCount")), QStringLiteral("4 recordings"));
    const QList<QQuickItem *> buttons =
        UiTest::findAllVisible(m_rig->view->contentItem(), QStringLiteral("copyButton"));
    const auto newest = std::find_if(buttons.cbegin(), buttons.cend(), [](QQuickItem *row) {
        while (row->objectName() != QLatin1String("historyRow"))
            row = row->parentItem();
        return row->property("index").toInt() == 0;
    });
    QVERIFY(newest != buttons.cend());
    UiTest::click(m_rig->view.get(), *newest);
    QCOMPARE(m_rig->platform.fakePasteboard().string(), QStringLiteral("make a list\nrm -r fdp now"));
}

void tst_MenubarWindow::tabFollowsTheHistoryAsShown()
{
    // a recording made while the window was away comes first when it reopens
    m_rig->view->hide();
    for (int i = 0; i < 5; ++i)
        m_rig->store.logSession(3, 2, QStringLiteral("en"), QStringLiteral("raw"), QStringLiteral("Note %1.").arg(i));
    m_rig->view->show();
    QVERIFY(waitForFuture(m_rig->viewModel.pendingReload()));
    QTRY_COMPARE(text(QStringLiteral("recordingCount")), QStringLiteral("8 recordings"));

    click(QStringLiteral("searchField"));
    QList<int> rows;
    for (QQuickItem *focused = pressTab(); focused->objectName() != QLatin1String("tab_home"); focused = pressTab()) {
        if (focused->objectName() != QLatin1String("copyButton"))
            continue;
        QQuickItem *row = focused;
        while (row->objectName() != QLatin1String("historyRow"))
            row = row->parentItem();
        rows.append(row->property("index").toInt());
    }
    QCOMPARE(rows, QList<int>({0, 1, 2, 3, 4, 5, 6, 7}));
}

void tst_MenubarWindow::tabBringsTheFocusIntoView_data()
{
    QTest::addColumn<QString>("tab");
    QTest::newRow("home") << "home";
    QTest::newRow("dictionary") << "dictionary";
    QTest::newRow("snippets") << "snippets";
    QTest::newRow("settings") << "settings";
}

void tst_MenubarWindow::tabBringsTheFocusIntoView()
{
    QFETCH(QString, tab);
    // lists longer than the window
    for (int i = 0; i < 12; ++i) {
        m_rig->store.logSession(3, 2, QStringLiteral("en"), QStringLiteral("raw"), QStringLiteral("Note %1.").arg(i));
        m_rig->store.addCustomTerm(QStringLiteral("term%1").arg(i), std::nullopt, QStringLiteral("en"));
        m_rig->store.addSnippet(QStringLiteral("/s%1").arg(i), QStringLiteral("Text %1").arg(i), QStringLiteral("General"));
    }
    m_rig->view->hide();
    m_rig->view->show();
    QVERIFY(waitForFuture(m_rig->viewModel.pendingReload()));
    click(QStringLiteral("tab_") + tab);
    QTest::qWait(350); // the tab fades in

    // from the Start button through the page, round past Quit and through
    // the page again, where it is scrolled to its end
    item(QStringLiteral("startStopButton"))->forceActiveFocus();
    int scrolled = 0;
    int quits = 0;
    for (QQuickItem *focused = pressTab(); quits < 2; focused = pressTab()) {
        if (focused->objectName() == QLatin1String("quitButton"))
            ++quits;
        QQuickItem *flickable = nullptr;
        for (QQuickItem *up = focused->parentItem(); up; up = up->parentItem()) {
            if (up->inherits("QQuickFlickable"))
                flickable = up; // the outermost: the carousel pages sideways inside the history
        }
        if (!flickable)
            continue;
        const QRectF shown = focused->mapRectToItem(flickable, QRectF(0, 0, focused->width(), focused->height()));
        QVERIFY2(shown.top() >= 0 && shown.bottom() <= flickable->height(),
                 qPrintable(QStringLiteral("%1 at %2..%3 of %4").arg(focused->objectName()).arg(shown.top())
                                .arg(shown.bottom()).arg(flickable->height())));
        if (flickable->property("contentY").toReal() > 0 && scrolled++ == 0)
            UiTest::screenshot(m_rig->view.get(), QStringLiteral("menubar-%1-tabbed-into-view").arg(tab));
        QVERIFY(scrolled < 400);
    }
    QVERIFY(scrolled > 0);
}

void tst_MenubarWindow::screenshots_data()
{
    QTest::addColumn<QString>("tab");
    // drawn at a size of their own, their text whole
    QTest::addColumn<QStringList>("intact");
    QTest::addColumn<QStringList>("centred");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("menubar-home") << "home" << QStringList{"startStopLabel"} << QStringList{} << QColor(0x28, 0xa7, 0x45);
    QTest::newRow("menubar-live") << "home" << QStringList{"liveDot", "liveTitle"} << QStringList{} << QColor(0xff, 0x3b, 0x30);
    QTest::newRow("menubar-snippets-empty") << "snippets" << QStringList{"emptySnippetsTitle", "emptySnippetsHint"}
                                            << QStringList{"emptySnippetsTitle", "emptySnippetsHint"} << QColor();
    QTest::newRow("menubar-settings") << "settings" << QStringList{"modePicker", "languagePicker", "stylePicker"}
                                      << QStringList{} << QColor(0x00, 0x7a, 0xff);
}

void tst_MenubarWindow::screenshots()
{
    QFETCH(QString, tab);
    QFETCH(QStringList, intact);
    QFETCH(QStringList, centred);
    QFETCH(QColor, colour);
    if (QByteArray(QTest::currentDataTag()) == "menubar-live") {
        click(QStringLiteral("startStopButton"));
        QTRY_VERIFY(m_rig->coordinator->isDictating());
        static_cast<RiggedCoordinator &>(*m_rig->coordinator).transcriber.onPartialText()(QStringLiteral("Buy milk and"));
    }
    click(QStringLiteral("tab_") + tab);
    QTest::qWait(350); // the tab fades in
    const QImage image = UiTest::screenshot(m_rig->view.get(), QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(UiTest::distinctColours(image) > 20);
    // the live card comes in above the statistics without pushing them out of view
    if (QQuickItem *stats = item(QStringLiteral("statsPages")))
        QVERIFY(stats->mapToScene({}).y() >= item(QStringLiteral("tabContent"))->mapToScene({}).y());
    if (colour.isValid())
        QVERIFY(UiTest::shareOfColour(image, colour) > 0.001);
    for (const QString &name : intact) {
        QQuickItem *shown = item(name);
        QVERIFY2(shown, qPrintable(name));
        // a control's text is its content item
        if (auto *content = shown->property("contentItem").value<QQuickItem *>())
            shown = content;
        QVERIFY2(shown->width() > 0 && shown->height() > 0 && shown->implicitWidth() <= shown->width() + 0.5,
                 qPrintable(QStringLiteral("%1: %2 of %3").arg(name).arg(shown->width()).arg(shown->implicitWidth())));
    }
    for (const QString &name : centred) {
        // what is drawn in the item's band, against the window's colour at the left edge
        const QRect band = item(name)->mapRectToScene(QRectF(QPointF(), item(name)->size())).toRect();
        int left = image.width(), right = 0;
        for (int y = band.top(); y <= band.bottom(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixel(x, y) != image.pixel(0, y))
                    left = std::min(left, x), right = std::max(right, x);
            }
        }
        QVERIFY2(left > 16 && qAbs(left + right - image.width()) < 4, qPrintable(QStringLiteral("%1: %2-%3").arg(name).arg(left).arg(right)));
    }
}

void tst_MenubarWindow::everyControlShowsItHasTheFocus_data()
{
    QTest::addColumn<QString>("tab");
    QTest::addColumn<QString>("control");
    // given the focus by a screen reader (its SetFocus action) rather than Tab
    QTest::addColumn<bool>("byScreenReader");
    QTest::newRow("plain button") << "home" << "startStopButton" << false;
    QTest::newRow("text field") << "home" << "searchField" << false;
    QTest::newRow("carousel") << "home" << "statsPages" << false;
    QTest::newRow("accent button") << "settings" << "previewButton" << false;
    QTest::newRow("switch off") << "settings" << "postProcessingSwitch" << false;
    QTest::newRow("switch on") << "settings" << "largeModelSwitch" << false;
    QTest::newRow("picker") << "settings" << "languagePicker" << false;
    QTest::newRow("carousel from a screen reader") << "home" << "statsPages" << true;
    QTest::newRow("switch from a screen reader") << "settings" << "postProcessingSwitch" << true;
}

void tst_MenubarWindow::everyControlShowsItHasTheFocus()
{
    QFETCH(QString, tab);
    QFETCH(QString, control);
    QFETCH(bool, byScreenReader);
    m_rig->viewModel.setLargeModelEnabled(true);
    m_rig->viewModel.setPostProcessingEnabled(false);
    m_rig->voice.neural = false; // Preview is enabled with the system voice
    emit m_rig->voice.changed();
    click(QStringLiteral("tab_") + tab);
    QTest::qWait(350); // the tab fades in
    QQuickItem *shown = item(control);
    QVERIFY(shown && shown->isEnabled());
    // as Tab gives it: the view scrolls it into view first
    shown->forceActiveFocus(Qt::TabFocusReason);
    QTest::qWait(50);
    const QRect around = shown->mapRectToScene(QRectF(QPointF(), shown->size())).toAlignedRect().adjusted(-10, -10, 10, 10);

    item(QStringLiteral("quitButton"))->forceActiveFocus(Qt::TabFocusReason);
    QTest::qWait(200);
    const QString name = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    const QImage unfocused = UiTest::screenshot(m_rig->view.get(), QStringLiteral("focus-%1-off").arg(name)).copy(around);
    if (byScreenReader)
        QAccessible::queryAccessibleInterface(shown)->actionInterface()->doAction(QAccessibleActionInterface::setFocusAction());
    else
        shown->forceActiveFocus(Qt::TabFocusReason);
    QTest::qWait(200);
    QVERIFY(shown->hasActiveFocus());
    const QImage focused = UiTest::screenshot(m_rig->view.get(), QStringLiteral("focus-%1-on").arg(name)).copy(around);
    // a ring, or as good as one: changed along at least half the outline
    int changed = 0;
    for (int y = 0; y < around.height(); ++y) {
        for (int x = 0; x < around.width(); ++x)
            changed += focused.pixel(x, y) != unfocused.pixel(x, y);
    }
    QVERIFY2(changed >= around.width() + around.height(), qPrintable(QString::number(changed)));
}

void tst_MenubarWindow::dictionaryAddsAndDeletesTerms()
{
    // recorded while the window is open: the tab reads them when it appears
    m_rig->store.addAutoTerm(QStringLiteral("kubernetes"), QStringLiteral("en"));
    for (int i = 0; i < 12; ++i)
        m_rig->store.recordWords({QStringLiteral("meeting"), QStringLiteral("design")}, QStringLiteral("en"));
    click(QStringLiteral("tab_dictionary"));
    QTRY_VERIFY(item(QStringLiteral("termRow_kubernetes")));
    QVERIFY(item(QStringLiteral("topWordsSection")));

    click(QStringLiteral("addTermButton"));
    QTRY_VERIFY(item(QStringLiteral("termField")));
    QVERIFY(!item(QStringLiteral("addButton"))->isEnabled());
    // the sheet opens in its first field; Escape closes it, back to where it opened from
    QTRY_COMPARE(m_rig->view->activeFocusItem(), item(QStringLiteral("termField")));
    UiTest::screenshot(m_rig->view.get(), QStringLiteral("menubar-dictionary-sheet"));
    QTest::keyClick(m_rig->view.get(), Qt::Key_Escape);
    QTRY_COMPARE(m_rig->view->activeFocusItem(), item(QStringLiteral("addTermButton")));
    click(QStringLiteral("addTermButton"));
    QTRY_COMPARE(m_rig->view->activeFocusItem(), item(QStringLiteral("termField")));
    type(QStringLiteral("BTW"));
    QVERIFY(item(QStringLiteral("addButton"))->isEnabled());
    click(QStringLiteral("replacementField"));
    type(QStringLiteral("by the way"));
    QSignalSpy termReads(m_rig->services->customTerms(), &QAbstractItemModel::modelReset);
    click(QStringLiteral("addButton"));
    QTRY_VERIFY(!item(QStringLiteral("termField")));
    QTRY_COMPARE(text(QStringLiteral("replacementLine")), QStringLiteral("→ by the way"));
    QCOMPARE(termReads.size(), 1);
    // on the row the sheet added
    QTRY_COMPARE(m_rig->view->activeFocusItem(),
                 UiTest::findVisible(item(QStringLiteral("termRow_btw")), QStringLiteral("deleteTermButton")));

    QTest::qWait(350); // the sheet fades out
    const QImage shot = UiTest::screenshot(m_rig->view.get(), QStringLiteral("menubar-dictionary"));
    QVERIFY(UiTest::distinctColours(shot) > 30);
    // the blue "manual" and green "auto" capsules
    QVERIFY(UiTest::shareOfColour(shot, QColor(0x00, 0x7a, 0xff), 60) > 0.001);
    QVERIFY(UiTest::shareOfColour(shot, QColor(0x28, 0xa7, 0x45), 60) > 0.0001);

    UiTest::click(m_rig->view.get(),
                  UiTest::findVisible(item(QStringLiteral("termRow_btw")), QStringLiteral("deleteTermButton")));
    QTRY_VERIFY(!item(QStringLiteral("termRow_btw")));
    QVERIFY(item(QStringLiteral("termRow_kubernetes")));
    // on the row that took its place
    QCOMPARE(m_rig->view->activeFocusItem(),
             UiTest::findVisible(item(QStringLiteral("termRow_kubernetes")), QStringLiteral("deleteTermButton")));
    UiTest::screenshot(m_rig->view.get(), QStringLiteral("menubar-dictionary-deleted"));
}

void tst_MenubarWindow::snippetSheetSavesAndDeletes()
{
    m_rig->store.addSnippet(QStringLiteral("/sig"), QStringLiteral("Best regards,\nAlex"), QStringLiteral("Email"));
    click(QStringLiteral("tab_snippets"));
    QTRY_VERIFY(item(QStringLiteral("snippetRow_/sig")));
    click(QStringLiteral("addSnippetButton"));
    QTRY_VERIFY(item(QStringLiteral("shortcutField")));
    click(QStringLiteral("shortcutField"));
    type(QStringLiteral("/addr"));
    QVERIFY(!item(QStringLiteral("saveButton"))->isEnabled());
    QTest::qWait(350);
    const QImage sheet = UiTest::screenshot(m_rig->view.get(), QStringLiteral("menubar-snippets-sheet"));
    QVERIFY(UiTest::distinctColours(sheet) > 30);
    // the sheet's window-coloured panel over the dimmed tab
    const QColor panel = sheet.pixelColor(item(QStringLiteral("shortcutField"))->mapToScene(QPointF(-6, 0)).toPoint());
    QVERIFY(UiTest::shareOfColour(sheet, panel, 6) > 0.2);

    click(QStringLiteral("expansionArea"));
    type(QStringLiteral("34 Side Road"));
    QVERIFY(item(QStringLiteral("saveButton"))->isEnabled());
    QSignalSpy snippetReads(m_rig->services->snippets(), &QAbstractItemModel::modelReset);
    click(QStringLiteral("saveButton"));
    QTRY_VERIFY(!item(QStringLiteral("shortcutField")));
    QTRY_VERIFY(item(QStringLiteral("snippetRow_/addr")));
    QTest::qWait(100);
    QCOMPARE(snippetReads.size(), 1);

    click(QStringLiteral("deleteSnippetButton"));
    QTRY_COMPARE(UiTest::findAllVisible(m_rig->view->contentItem(), QStringLiteral("deleteSnippetButton")).size(), 1);
    click(QStringLiteral("deleteSnippetButton"));
    QTRY_COMPARE(text(QStringLiteral("emptySnippetsTitle")), QStringLiteral("No snippets yet"));
}

void tst_MenubarWindow::eachOpeningReadsOnceAndAfresh()
{
    MenubarExtra host(*m_rig->engine, m_rig->viewModel, *m_rig->services);
    QSignalSpy loads(&m_rig->viewModel, &MenubarViewModel::sessionsChanged);
    host.openWindow();
    QVERIFY(QTest::qWaitForWindowActive(host.window()));
    QTRY_COMPARE(loads.size(), 1);
    const auto find = [&](const QString &name) { return UiTest::findVisible(host.window()->contentItem(), name); };
    UiTest::click(host.window(), find(QStringLiteral("tab_snippets")));
    QTRY_VERIFY(find(QStringLiteral("snippetsView")));

    // what changed while the window was away shows when it comes back
    host.window()->hide();
    m_rig->store.addSnippet(QStringLiteral("/sig"), QStringLiteral("Best regards"), QStringLiteral("Email"));
    host.openWindow();
    QVERIFY(QTest::qWaitForWindowActive(host.window()));
    QTRY_VERIFY(find(QStringLiteral("snippetRow_/sig")));
    QTRY_COMPARE(loads.size(), 2);
    QTest::qWait(100);
    QCOMPARE(loads.size(), 2);
}

void tst_MenubarWindow::aClickOnTheIconWhileAMessageShowsOpensOnlyTheWindow()
{
    MenubarExtra host(*m_rig->engine, m_rig->viewModel, *m_rig->services);
    QSystemTrayIcon *tray = host.findChild<QSystemTrayIcon *>();
    QVERIFY(tray);
    const auto shown = [](QQuickView *window) { return window && window->isVisible(); };
    // The X11 tray's report of a left click on the icon while a message shows.
    emit tray->messageClicked();
    emit tray->activated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(shown(host.window()));
    QTest::qWait(50);
    QVERIFY(!shown(host.settingsWindow()));

    // a click on the message itself
    emit tray->messageClicked();
    QTRY_VERIFY(shown(host.settingsWindow()));
}

void tst_MenubarWindow::withoutATrayTheWindowShowsTheMessages()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        QSKIP("this desktop has a tray");
    MenubarExtra host(*m_rig->engine, m_rig->viewModel, *m_rig->services);
    host.install();
    QVERIFY(!host.hasTray());
    QTRY_VERIFY(host.window() && host.window()->isVisible());
    host.showAccessibilityMessage();
    host.tell(QStringLiteral("Your dictation history cannot be saved (disk full)."));
    QQuickItem *notice = UiTest::findVisible(host.window()->contentItem(), QStringLiteral("notice"));
    QVERIFY(notice);
    const QString shown = notice->property("text").toString();
    QVERIFY2(shown.startsWith(QLatin1String("Typing into other applications needs accessibility."))
                 && shown.endsWith(QLatin1String("cannot be saved (disk full).")),
             qPrintable(shown));
    QVERIFY(UiTest::readableTexts(host.window()).contains(shown));
    // whole, between the header and the tab
    QTest::qWait(50);
    const QRectF box = notice->mapRectToScene(QRectF(QPointF(), notice->size()));
    QVERIFY(notice->height() >= notice->implicitHeight() && box.right() <= host.window()->width());
    QQuickItem *tab = UiTest::findVisible(host.window()->contentItem(), QStringLiteral("tabContent"));
    QVERIFY(box.top() > 30 && box.bottom() <= tab->mapToScene({}).y());
    UiTest::screenshot(host.window(), QStringLiteral("menubar-without-tray"));
}

QTEST_MAIN(tst_MenubarWindow)
#include "tst_MenubarWindow.moc"
