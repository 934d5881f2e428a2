#include "app/MenubarViewModel.h"
#include "app/ViewServices.h"
#include "models/ModelManager.h"
#include "platform/fake/FakePlatform.h"
#include "profile/VoiceProfileStore.h"

#include "FakeVoiceSettings.h"
#include "UiTestSupport.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QtTest>

namespace {

const QString kLongText = QStringLiteral(
    "Remind the team that the design review moves to Thursday afternoon, and that the slides need the new "
    "revenue figures before then.");

} // namespace

class tst_MenubarWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void startStopToggles();
    void tabsSwitch();
    void carouselPagesByItsDots();
    void searchNarrowsAndClearRestores();
    void showMoreExpandsLongTexts();
    void copyShowsACheckThatASecondPressExtends();
    void homeScreenshot();
    void dictionaryAddsAndDeletesTerms();
    void snippetSavedUnderAnExistingShortcutReplacesIt();
    void dictionaryAndSnippetsScreenshots();

private:
    QQuickItem *item(const QString &name) { return UiTest::findVisible(m_view->contentItem(), name); }
    QString text(const QString &name) { return item(name) ? item(name)->property("text").toString() : QString(); }

    FakePlatform *m_platform = nullptr;
    std::unique_ptr<QTemporaryDir> m_directory;
    std::unique_ptr<VoiceProfileStore> m_store;
    std::unique_ptr<DictationSessionCoordinator> m_coordinator;
    std::unique_ptr<ModelManager> m_models;
    std::unique_ptr<MenubarViewModel> m_viewModel;
    FakeVoiceSettings m_voice;
    std::unique_ptr<ViewServices> m_services;
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<QQuickView> m_view;
};

void tst_MenubarWindow::init()
{
    m_platform = &FakePlatform::installNew();
    m_directory = std::make_unique<QTemporaryDir>();
    m_store = std::make_unique<VoiceProfileStore>(m_directory->filePath(QStringLiteral("profile.sqlite")));
    QDateTime now = QDateTime::currentDateTime().addSecs(-3600);
    m_store->setClock([now]() mutable { return now = now.addSecs(300); });
    m_store->logSession(4.2, 9, QStringLiteral("en"), QStringLiteral("um buy milk and eggs on the way home"),
                        QStringLiteral("Buy milk and eggs on the way home."));
    m_store->logSession(125, 21, QStringLiteral("en"), kLongText, QString());
    m_store->logSession(42, 6, QStringLiteral("en"), QStringLiteral("meeting notes for friday"),
                        QStringLiteral("Meeting notes for Friday."));
    m_coordinator = UiTest::makeCoordinator();
    m_models = std::make_unique<ModelManager>();
    m_viewModel = std::make_unique<MenubarViewModel>(MenubarViewModel::Collaborators{
        *m_coordinator, *m_models, *m_store, m_platform->pasteboard(), m_platform->settings(), {}});
    m_services = std::make_unique<ViewServices>(ViewServices::Collaborators{
        *m_store, *m_models, {}, m_platform->loginItems(), m_platform->accessibility(), m_voice});
    m_engine = UiTest::makeEngine();
    m_view = std::make_unique<QQuickView>(m_engine.get(), nullptr);
    m_view->setInitialProperties({{QStringLiteral("viewModel"), QVariant::fromValue(m_viewModel.get())},
                                  {QStringLiteral("services"), QVariant::fromValue(m_services.get())}});
    m_view->setSource(QUrl(QStringLiteral("qrc:/qt/qml/Tavrune/Ui/MenubarWindow.qml")));
    QVERIFY2(m_view->errors().isEmpty(), qPrintable(m_view->errors().value(0).toString()));
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    QCOMPARE(m_view->size(), QSize(380, 560));
}

void tst_MenubarWindow::cleanup()
{
    m_view.reset();
    m_engine.reset();
    m_services.reset();
    m_viewModel.reset();
    m_store.reset();
}

void tst_MenubarWindow::startStopToggles()
{
    if (!UiTest::coordinatorDictates)
        QSKIP("the coordinator here does not dictate yet");
    QCOMPARE(text(QStringLiteral("startStopLabel")), QStringLiteral("Start Dictation"));
    UiTest::click(m_view.get(), item(QStringLiteral("startStopButton")));
    QTRY_VERIFY(m_coordinator->isStarting() || m_coordinator->isDictating());
    QTRY_COMPARE(text(QStringLiteral("startStopLabel")), QStringLiteral("Stop"));
    UiTest::click(m_view.get(), item(QStringLiteral("startStopButton")));
    QTRY_VERIFY(!m_coordinator->isDictating());
}

void tst_MenubarWindow::tabsSwitch()
{
    for (const char *tab : {"dictionary", "snippets", "settings"}) {
        UiTest::click(m_view.get(), item(QStringLiteral("tab_%1").arg(tab)));
        QTRY_VERIFY(item(QStringLiteral("%1View").arg(tab)));
        QVERIFY(!item(QStringLiteral("historyList")));
    }
    UiTest::click(m_view.get(), item(QStringLiteral("tab_home")));
    QTRY_VERIFY(item(QStringLiteral("historyList")));
}

void tst_MenubarWindow::carouselPagesByItsDots()
{
    QQuickItem *pages = item(QStringLiteral("statsPages"));
    UiTest::click(m_view.get(), item(QStringLiteral("pageDot_2")));
    QTRY_COMPARE(pages->property("currentIndex").toInt(), 2);
    UiTest::click(m_view.get(), item(QStringLiteral("pageDot_1")));
    QTRY_COMPARE(pages->property("currentIndex").toInt(), 1);
}

void tst_MenubarWindow::searchNarrowsAndClearRestores()
{
    QCOMPARE(text(QStringLiteral("recordingCount")), QStringLiteral("3 recordings"));
    QVERIFY(!item(QStringLiteral("clearSearchButton")));
    UiTest::click(m_view.get(), item(QStringLiteral("searchField")));
    UiTest::type(m_view.get(), QStringLiteral("MILK"));
    QCOMPARE(m_viewModel->searchText(), QStringLiteral("MILK"));
    QTRY_COMPARE(text(QStringLiteral("recordingCount")), QStringLiteral("1 recordings"));
    UiTest::type(m_view.get(), QStringLiteral("shake"));
    QTRY_COMPARE(text(QStringLiteral("emptyHistoryText")), QStringLiteral("No matches"));

    UiTest::click(m_view.get(), item(QStringLiteral("clearSearchButton")));
    QTRY_COMPARE(text(QStringLiteral("recordingCount")), QStringLiteral("3 recordings"));
    QCOMPARE(text(QStringLiteral("searchField")), QString());
    QVERIFY(!item(QStringLiteral("clearSearchButton")));
}

void tst_MenubarWindow::showMoreExpandsLongTexts()
{
    const auto buttons = UiTest::findAll(m_view->rootObject(), [](QQuickItem *i) {
        return i->objectName() == QLatin1String("showMoreButton") && i->isVisible();
    });
    QCOMPARE(buttons.size(), 1); // only the long entry
    QQuickItem *row = buttons.first()->parentItem();
    while (row && row->objectName() != QLatin1String("historyRow"))
        row = row->parentItem();
    QVERIFY(row);
    QQuickItem *rowText = UiTest::findVisible(row, QStringLiteral("rowText"));
    QCOMPARE(rowText->property("lineCount").toInt(), 2);
    UiTest::click(m_view.get(), buttons.first());
    QTRY_VERIFY(rowText->property("lineCount").toInt() > 2);
    QCOMPARE(UiTest::findAll(buttons.first(), [](QQuickItem *i) { return i->property("text").isValid(); })
                 .first()
                 ->property("text")
                 .toString(),
             QStringLiteral("Show less"));
}

void tst_MenubarWindow::copyShowsACheckThatASecondPressExtends()
{
    QQuickItem *button = item(QStringLiteral("copyButton"));
    QQuickItem *row = button;
    while (row->objectName() != QLatin1String("historyRow"))
        row = row->parentItem();
    row->setProperty("copiedMs", 400);
    QQuickItem *icon = UiTest::findVisible(row, QStringLiteral("copyIcon"));

    UiTest::click(m_view.get(), button);
    // the newest entry's delivered text, not its raw transcript
    QCOMPARE(m_platform->fakePasteboard().string(), QStringLiteral("Meeting notes for Friday."));
    QCOMPARE(icon->property("symbol").toString(), QStringLiteral("checkmark"));
    QTest::qWait(250);
    UiTest::click(m_view.get(), button);
    QTest::qWait(250); // past the first press's period
    QCOMPARE(icon->property("symbol").toString(), QStringLiteral("checkmark"));
    QTRY_COMPARE(icon->property("symbol").toString(), QStringLiteral("doc.on.doc"));
}

void tst_MenubarWindow::homeScreenshot()
{
    QTest::qWait(100);
    const QImage image = UiTest::screenshot(m_view.get(), QStringLiteral("menubar-home"));
    QVERIFY(UiTest::distinctColours(image) > 30);
    // the words figure in green, the three history rows' texts below the carousel
    QVERIFY(UiTest::shareOfColour(image.copy(0, 40, 380, 160), QColor(0x28, 0xa7, 0x45)) > 0.005);
    QCOMPARE(UiTest::findAll(m_view->rootObject(), [](QQuickItem *i) {
                 return i->objectName() == QLatin1String("historyRow") && i->isVisible();
             }).size(),
             3);
}

void tst_MenubarWindow::dictionaryAddsAndDeletesTerms()
{
    // recorded while the window is open: the tab reads them when it appears
    m_store->addAutoTerm(QStringLiteral("kubernetes"), QStringLiteral("en"));
    m_store->recordWords({QStringLiteral("meeting"), QStringLiteral("meeting")}, QStringLiteral("en"));
    UiTest::click(m_view.get(), item(QStringLiteral("tab_dictionary")));
    QTRY_VERIFY(item(QStringLiteral("termRow_kubernetes")));
    QVERIFY(item(QStringLiteral("topWordsSection")));

    UiTest::click(m_view.get(), item(QStringLiteral("addTermButton")));
    QTRY_VERIFY(item(QStringLiteral("termField")));
    QVERIFY(!item(QStringLiteral("addButton"))->isEnabled());
    UiTest::click(m_view.get(), item(QStringLiteral("termField")));
    UiTest::type(m_view.get(), QStringLiteral("BTW"));
    QVERIFY(item(QStringLiteral("addButton"))->isEnabled());
    UiTest::click(m_view.get(), item(QStringLiteral("replacementField")));
    UiTest::type(m_view.get(), QStringLiteral("by the way"));
    UiTest::click(m_view.get(), item(QStringLiteral("addButton")));
    QTRY_VERIFY(!item(QStringLiteral("termField")));

    QQuickItem *added = item(QStringLiteral("termRow_btw"));
    QVERIFY(added);
    QCOMPARE(text(QStringLiteral("replacementLine")), QStringLiteral("→ by the way"));
    QCOMPARE(UiTest::findVisible(added, QStringLiteral("sourceCapsule"))->property("text").toString(),
             QStringLiteral("manual"));
    QTRY_VERIFY(added->y() < item(QStringLiteral("termRow_kubernetes"))->y()); // newest first

    UiTest::click(m_view.get(), UiTest::findVisible(added, QStringLiteral("deleteTermButton")));
    QTRY_VERIFY(!item(QStringLiteral("termRow_btw")));
    QVERIFY(item(QStringLiteral("termRow_kubernetes")));
}

void tst_MenubarWindow::snippetSavedUnderAnExistingShortcutReplacesIt()
{
    m_store->addSnippet(QStringLiteral("/addr"), QStringLiteral("12 Main Street"), QStringLiteral("Address"));
    UiTest::click(m_view.get(), item(QStringLiteral("tab_snippets")));
    QTRY_VERIFY(item(QStringLiteral("snippetRow_/addr")));

    UiTest::click(m_view.get(), item(QStringLiteral("addSnippetButton")));
    QTRY_VERIFY(item(QStringLiteral("shortcutField")));
    UiTest::click(m_view.get(), item(QStringLiteral("shortcutField")));
    UiTest::type(m_view.get(), QStringLiteral("/addr"));
    QVERIFY(!item(QStringLiteral("saveButton"))->isEnabled());
    UiTest::click(m_view.get(), item(QStringLiteral("expansionArea")));
    UiTest::type(m_view.get(), QStringLiteral("34 Side Road"));
    QVERIFY(item(QStringLiteral("saveButton"))->isEnabled());
    UiTest::click(m_view.get(), item(QStringLiteral("saveButton")));
    QTRY_VERIFY(!item(QStringLiteral("shortcutField")));

    const auto rows = UiTest::findAll(m_view->contentItem(), [](QQuickItem *i) {
        return i->objectName() == QLatin1String("snippetRow_/addr") && i->isVisible();
    });
    QCOMPARE(rows.size(), 1);
    QCOMPARE(text(QStringLiteral("expansionText")), QStringLiteral("34 Side Road"));

    UiTest::click(m_view.get(), item(QStringLiteral("deleteSnippetButton")));
    QTRY_COMPARE(text(QStringLiteral("emptySnippetsTitle")), QStringLiteral("No snippets yet"));
}

void tst_MenubarWindow::dictionaryAndSnippetsScreenshots()
{
    m_store->addAutoTerm(QStringLiteral("kubernetes"), QStringLiteral("en"));
    m_store->addCustomTerm(QStringLiteral("btw"), QStringLiteral("by the way"), QStringLiteral("en"));
    m_store->addCustomTerm(QStringLiteral("Tavrune"), std::nullopt, QStringLiteral("en"));
    QStringList words;
    for (int i = 0; i < 12; ++i)
        words << QStringLiteral("meeting") << QStringLiteral("design") << (i % 2 ? QStringLiteral("review") : QString());
    words.removeAll(QString());
    m_store->recordWords(words, QStringLiteral("en"));
    m_store->addSnippet(QStringLiteral("/addr"), QStringLiteral("12 Main Street, Springfield"), QStringLiteral("Address"));
    m_store->addSnippet(QStringLiteral("/sig"), QStringLiteral("Best regards,\nAlex"), QStringLiteral("Email"));

    UiTest::click(m_view.get(), item(QStringLiteral("tab_dictionary")));
    QTRY_VERIFY(item(QStringLiteral("topWordsSection")));
    QTest::qWait(350); // the tab fades in
    const QImage dictionary = UiTest::screenshot(m_view.get(), QStringLiteral("menubar-dictionary"));
    QVERIFY(UiTest::distinctColours(dictionary) > 30);
    // the blue "manual" and green "auto" capsules
    QVERIFY(UiTest::shareOfColour(dictionary, QColor(0x00, 0x7a, 0xff), 60) > 0.001);
    QVERIFY(UiTest::shareOfColour(dictionary, QColor(0x28, 0xa7, 0x45), 60) > 0.0001);

    UiTest::click(m_view.get(), item(QStringLiteral("tab_snippets")));
    QTRY_VERIFY(item(QStringLiteral("snippetRow_/sig")));
    UiTest::click(m_view.get(), item(QStringLiteral("addSnippetButton")));
    QTRY_VERIFY(item(QStringLiteral("shortcutField")));
    UiTest::click(m_view.get(), item(QStringLiteral("shortcutField")));
    UiTest::type(m_view.get(), QStringLiteral("/thx"));
    QTest::qWait(350);
    const QImage sheet = UiTest::screenshot(m_view.get(), QStringLiteral("menubar-snippets-sheet"));
    QVERIFY(UiTest::distinctColours(sheet) > 30);
    // the sheet's window-coloured panel over the dimmed tab
    const QColor panel = sheet.pixelColor(item(QStringLiteral("shortcutField"))->mapToScene(QPointF(-6, 0)).toPoint());
    QVERIFY(UiTest::shareOfColour(sheet, panel, 6) > 0.2);
}

QTEST_MAIN(tst_MenubarWindow)
#include "tst_MenubarWindow.moc"
