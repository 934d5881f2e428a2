#include "app/MenubarViewModel.h"
#include "app/ViewServices.h"
#include "models/ModelManager.h"
#include "platform/fake/FakePlatform.h"
#include "profile/VoiceProfileStore.h"
#include "support/LoopbackHttpServer.h"

#include "FakeVoiceSettings.h"
#include "UiTestSupport.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QtTest>

// The settings window loaded for real, over a real models directory and a
// loopback download server.
class tst_MacSettingsView : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void choicesReachTheViewModelAndTheCoordinator();
    void modelsShowInstalledAndDownloadOneAtATime();
    void launchAtLoginTellsTheTruthAndActsOnlyOnChange();
    void voiceCardWithoutNeuralEngineStillPreviews();
    void screenshots();

private:
    QQuickItem *item(const QString &name) { return UiTest::findVisible(m_view->contentItem(), name); }
    QString text(const QString &name) { return item(name) ? item(name)->property("text").toString() : QString(); }
    void choose(const QString &picker, const QString &itemText);
    // Hides and shows the view, as switching tabs does.
    void reappear();

    FakePlatform *m_platform = nullptr;
    LoopbackHttpServer m_server;
    std::unique_ptr<QTemporaryDir> m_directory;
    std::unique_ptr<VoiceProfileStore> m_store;
    std::unique_ptr<DictationSessionCoordinator> m_coordinator;
    std::unique_ptr<ModelManager> m_models;
    std::unique_ptr<MenubarViewModel> m_viewModel;
    std::unique_ptr<FakeVoiceSettings> m_voice;
    std::unique_ptr<ViewServices> m_services;
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<QQuickView> m_view;
};

void tst_MacSettingsView::init()
{
    m_platform = &FakePlatform::installNew();
    m_platform->fakeLoginItems().registered = true;
    m_platform->fakeAccessibility().trusted = false;
    m_directory = std::make_unique<QTemporaryDir>();
    m_store = std::make_unique<VoiceProfileStore>(m_directory->filePath(QStringLiteral("profile.sqlite")));
    m_coordinator = UiTest::makeCoordinator();
    m_models = std::make_unique<ModelManager>(m_platform->paths());
    m_viewModel = std::make_unique<MenubarViewModel>(MenubarViewModel::Collaborators{
        *m_coordinator, *m_models, *m_store, m_platform->pasteboard(), m_platform->settings(), {}});
    QList<ModelDescriptor> catalogue = ModelDescriptor::all();
    for (ModelDescriptor &model : catalogue) {
        model.downloadURL = m_server.url(QLatin1Char('/') + model.id);
        model.expectedBytes = 1'500'000;
    }
    m_voice = std::make_unique<FakeVoiceSettings>();
    m_services = std::make_unique<ViewServices>(ViewServices::Collaborators{
        *m_store, *m_models, [] { return std::make_unique<ModelDownloadService>(); }, m_platform->loginItems(),
        m_platform->accessibility(), *m_voice, catalogue});
    m_engine = UiTest::makeEngine();
    m_view = std::make_unique<QQuickView>(m_engine.get(), nullptr);
    m_view->setInitialProperties({{QStringLiteral("viewModel"), QVariant::fromValue(m_viewModel.get())},
                                  {QStringLiteral("services"), QVariant::fromValue(m_services.get())}});
    m_view->setSource(QUrl(QStringLiteral("qrc:/qt/qml/Tavrune/Ui/MacSettingsView.qml")));
    QVERIFY2(m_view->errors().isEmpty(), qPrintable(m_view->errors().value(0).toString()));
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    QCOMPARE(m_view->size(), QSize(480, 520));
}

void tst_MacSettingsView::cleanup()
{
    m_view.reset();
    m_engine.reset();
    m_services.reset();
    m_viewModel.reset();
    m_store.reset();
}

void tst_MacSettingsView::choose(const QString &picker, const QString &itemText)
{
    UiTest::click(m_view.get(), item(picker));
    QTRY_VERIFY(item(QStringLiteral("pickerItem_") + itemText));
    QTest::qWait(200); // the list opens animated
    UiTest::click(m_view.get(), item(QStringLiteral("pickerItem_") + itemText));
    QTRY_VERIFY(!item(QStringLiteral("pickerItem_") + itemText));
}

void tst_MacSettingsView::reappear()
{
    m_view->rootObject()->setVisible(false);
    m_view->rootObject()->setVisible(true);
}

void tst_MacSettingsView::choicesReachTheViewModelAndTheCoordinator()
{
    choose(QStringLiteral("modePicker"), QStringLiteral("Cloud AI"));
    QCOMPARE(m_viewModel->selectedASRModel(), ASRModelPreference::cloudflareWhisper);
    QCOMPARE(m_coordinator->selectedASRModel, ASRModelPreference::cloudflareWhisper);
    QCOMPARE(item(QStringLiteral("modePicker"))->property("displayText").toString(), QStringLiteral("Cloud AI"));
    // a mode without an item shows none, and the picker follows later changes
    m_viewModel->setSelectedASRModel(ASRModelPreference::whisperMode);
    QCOMPARE(item(QStringLiteral("modePicker"))->property("displayText").toString(), QString());

    QVERIFY(!item(QStringLiteral("hdBadge")));
    UiTest::click(m_view.get(), item(QStringLiteral("largeModelSwitch")));
    QVERIFY(m_coordinator->largeModelEnabled);
    QTRY_VERIFY(item(QStringLiteral("hdBadge")));
    UiTest::click(m_view.get(), item(QStringLiteral("largeModelSwitch")));
    QVERIFY(!m_viewModel->largeModelEnabled());
    QTRY_VERIFY(!item(QStringLiteral("hdBadge")));
}

void tst_MacSettingsView::modelsShowInstalledAndDownloadOneAtATime()
{
    const auto buttons = [this] {
        return UiTest::findAll(m_view->contentItem(), [](QQuickItem *i) {
            return i->objectName() == QLatin1String("downloadButton") && i->isVisible();
        });
    };
    QCOMPARE(buttons().size(), 4);
    QDir().mkpath(m_models->modelsDirectory());
    QFile model(QDir(m_models->modelsDirectory()).filePath(QStringLiteral("ggml-base.bin")));
    QVERIFY(model.open(QIODevice::WriteOnly) && model.resize(ModelManager::minimumModelBytes));
    model.close();
    m_models->refreshInstalledModels();
    QQuickItem *baseRow = item(QStringLiteral("modelRow_ggml-base.bin"));
    QTRY_VERIFY(UiTest::findVisible(baseRow, QStringLiteral("installedMark")));
    QVERIFY(!UiTest::findVisible(baseRow, QStringLiteral("downloadButton")));
    QCOMPARE(buttons().size(), 3);

    LoopbackHttpServer::Response slow = LoopbackHttpServer::Response::generated(1'500'000, 7);
    slow.stallAfterBytes = 4096;
    slow.stallMs = 1500;
    m_server.setResponse(QStringLiteral("/ggml-large-v3-q5_0.bin"), slow);
    UiTest::click(m_view.get(), UiTest::findVisible(item(QStringLiteral("modelRow_ggml-large-v3-q5_0.bin")),
                                                    QStringLiteral("downloadButton")));
    QTRY_VERIFY(item(QStringLiteral("downloadProgressRow")));
    for (QQuickItem *button : buttons())
        QVERIFY(!button->isEnabled());
    QTRY_VERIFY(text(QStringLiteral("downloadStatus")).contains(QLatin1String(" / ")));
    // a second press, on the same row or another, starts nothing
    UiTest::click(m_view.get(), buttons().first());
    UiTest::click(m_view.get(), buttons().last());
    QTRY_VERIFY_WITH_TIMEOUT(!item(QStringLiteral("downloadProgressRow")), 15000);
    QCOMPARE(m_server.requestCount(), 1);
    QVERIFY(UiTest::findVisible(item(QStringLiteral("modelRow_ggml-large-v3-q5_0.bin")),
                                QStringLiteral("installedMark")));
    QCOMPARE(buttons().size(), 2);
    for (QQuickItem *button : buttons())
        QVERIFY(button->isEnabled());
}

void tst_MacSettingsView::launchAtLoginTellsTheTruthAndActsOnlyOnChange()
{
    FakeLoginItems &login = m_platform->fakeLoginItems();
    QQuickItem *toggle = item(QStringLiteral("launchAtLoginSwitch"));
    // still registered from an earlier run: shown on, and showing acts on nothing
    QVERIFY(toggle->property("checked").toBool());
    QVERIFY(m_viewModel->launchAtLogin());
    QVERIFY(login.calls.isEmpty());

    UiTest::click(m_view.get(), toggle);
    UiTest::click(m_view.get(), toggle);
    QCOMPARE(login.calls, QStringList({QStringLiteral("unregister"), QStringLiteral("register")}));

    // a refused change keeps the user's value; the next appearance reads the entry again
    login.refusal = QStringLiteral("Permission denied");
    UiTest::click(m_view.get(), toggle);
    QCOMPARE(login.calls.size(), 3);
    QVERIFY(!toggle->property("checked").toBool());
    reappear();
    QVERIFY(toggle->property("checked").toBool());
    QCOMPARE(login.calls.size(), 3);

    QVERIFY(!item(QStringLiteral("accessibilityEnabled")));
    UiTest::click(m_view.get(), item(QStringLiteral("grantAccessButton")));
    QVERIFY(m_platform->fakeAccessibility().calls.contains(QStringLiteral("requestAccess")));
    reappear();
    QVERIFY(item(QStringLiteral("accessibilityEnabled")));
}

void tst_MacSettingsView::voiceCardWithoutNeuralEngineStillPreviews()
{
    m_voice->neural = false;
    emit m_voice->changed();
    QCOMPARE(text(QStringLiteral("voiceStatus")), QStringLiteral("Neural voices are unavailable on this system"));
    QCOMPARE(text(QStringLiteral("engineLabel")), QStringLiteral("System Voice"));
    UiTest::click(m_view.get(), item(QStringLiteral("previewButton")));
    QCOMPARE(m_voice->calls, QStringList({QStringLiteral("stop"), QStringLiteral("system: ") + VoiceSettings::previewSentence}));

    m_voice->calls.clear();
    m_voice->neural = true;
    m_voice->modelLoaded = true;
    m_voice->voices = {QStringLiteral("bm_george"), QStringLiteral("af_heart"), QStringLiteral("zf_xiaobei")};
    emit m_voice->changed();
    QCOMPARE(text(QStringLiteral("voiceStatus")), QStringLiteral("Currently: British Male — George"));
    choose(QStringLiteral("voicePicker"), QStringLiteral("American Female — Heart"));
    UiTest::click(m_view.get(), item(QStringLiteral("previewButton")));
    QCOMPARE(m_voice->calls, QStringList({QStringLiteral("select af_heart"), QStringLiteral("stop"),
                                         QStringLiteral("neural: ") + VoiceSettings::previewSentence}));
}

void tst_MacSettingsView::screenshots()
{
    m_models->setIsDownloading(true);
    m_models->setDownloadProgress(0.42);
    m_models->setDownloadStatusText(QStringLiteral("630 MB / 1.5 GB"));
    m_viewModel->setLargeModelEnabled(true);
    QTest::qWait(100);
    const QImage top = UiTest::screenshot(m_view.get(), QStringLiteral("settings-top"));
    QVERIFY(UiTest::distinctColours(top) > 30);
    // the progress line in the Models card, the purple HD badge in the Pipeline card
    QVERIFY(UiTest::shareOfColour(top.copy(0, 40, 480, 220), QColor(0x00, 0x7a, 0xff), 60) > 0.002);
    QVERIFY(item(QStringLiteral("hdBadge")));
    QVERIFY(UiTest::shareOfColour(top.copy(0, 330, 480, 40), QColor(0xaf, 0x52, 0xde), 80) > 0.001);

    m_voice->modelLoaded = true;
    m_voice->voices = {QStringLiteral("bm_george"), QStringLiteral("af_heart")};
    m_voice->engine = QStringLiteral("Kokoro · af_heart");
    m_voice->packDownloading = true;
    m_voice->packProgress = 0.3;
    emit m_voice->changed();
    QQuickItem *card = item(QStringLiteral("voiceCard"));
    auto *flickable = qvariant_cast<QObject *>(m_view->rootObject()->property("flickable"));
    flickable->setProperty("contentY", card->mapToItem(m_view->rootObject(), QPointF()).y() - 8);
    QTest::qWait(100);
    const QImage voice = UiTest::screenshot(m_view.get(), QStringLiteral("settings-voice"));
    const QRectF cardRect = card->mapRectToScene(QRectF(0, 0, card->width(), card->height()));
    QVERIFY(UiTest::shareOfColour(voice.copy(cardRect.toRect()), QColor(0x00, 0x7a, 0xff), 60) > 0.005);

    flickable->setProperty("contentY", flickable->property("contentHeight").toReal() - m_view->height());
    QTest::qWait(100);
    const QImage bottom = UiTest::screenshot(m_view.get(), QStringLiteral("settings-bottom"));
    QVERIFY(UiTest::distinctColours(bottom) > 30);
    QVERIFY(item(QStringLiteral("grantAccessButton")));
}

QTEST_MAIN(tst_MacSettingsView)
#include "tst_MacSettingsView.moc"
