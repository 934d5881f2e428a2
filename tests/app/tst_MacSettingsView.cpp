#include "models/ModelDownloadService.h"
#include "support/FutureWait.h"
#include "support/LoopbackHttpServer.h"
#include "support/WhisperModelWriter.h"

#include "UiTestSupport.h"

#include <QAccessible>
#include <QQuickItem>
#include <QtTest>

// The settings window loaded for real, over a real models directory and a
// loopback download server.
class tst_MacSettingsView : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_rig.reset(); }
    void choicesReachTheViewModel();
    void modelsShowInstalledAndDownloadOneAtATime();
    void launchAtLoginTellsTheTruthAndActsOnlyOnChange();
    void accessibilityIsReadOffTheMainThreadOnEachAppearance();
    void aScreenReaderTogglesAndPresses();
    void voiceCardWithoutNeuralEngineStillPreviews();
    void voicePackDownloadKeepsTheFocus();
    void screenshots();

private:
    QQuickItem *item(const QString &name) { return m_rig->item(name); }
    QString text(const QString &name) { return m_rig->text(name); }
    void click(const QString &name) { m_rig->click(name); }
    void choose(const QString &picker, const QString &itemText);
    // Hides and shows the window.
    void reappear();

    LoopbackHttpServer m_server;
    std::unique_ptr<UiTest::ViewRig> m_rig;
};

void tst_MacSettingsView::init()
{
    m_rig = std::make_unique<UiTest::ViewRig>();
    m_rig->platform.fakeLoginItems().registered = true;
    m_rig->platform.fakeAccessibility().trusted = false;
    QList<ModelDescriptor> catalogue = ModelDescriptor::all();
    for (ModelDescriptor &model : catalogue) {
        model.downloadURL = m_server.url(QLatin1Char('/') + model.id);
        model.expectedBytes = 3'000'000; // about the size of a tiny test model
    }
    m_rig->show(QStringLiteral("MacSettingsView"), catalogue);
}

void tst_MacSettingsView::choose(const QString &picker, const QString &itemText)
{
    click(picker);
    QTRY_VERIFY(item(QStringLiteral("pickerItem_") + itemText));
    QTest::qWait(200); // the list opens animated
    click(QStringLiteral("pickerItem_") + itemText);
    QTRY_VERIFY(!item(QStringLiteral("pickerItem_") + itemText));
}

void tst_MacSettingsView::reappear()
{
    m_rig->view->hide();
    m_rig->view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_rig->view.get()));
}

void tst_MacSettingsView::choicesReachTheViewModel()
{
    MenubarViewModel &viewModel = m_rig->viewModel;
    choose(QStringLiteral("modePicker"), QStringLiteral("Cloud AI"));
    QCOMPARE(viewModel.selectedASRModel(), ASRModelPreference::cloudflareWhisper);
    // a mode without an item shows none, and the picker follows later changes
    viewModel.setSelectedASRModel(ASRModelPreference::whisperMode);
    QCOMPARE(item(QStringLiteral("modePicker"))->property("displayText").toString(), QString());

    QVERIFY(!item(QStringLiteral("hdBadge")));
    click(QStringLiteral("largeModelSwitch"));
    QVERIFY(viewModel.largeModelEnabled());
    QTRY_VERIFY(item(QStringLiteral("hdBadge")));
    click(QStringLiteral("largeModelSwitch"));
    QVERIFY(!viewModel.largeModelEnabled());
}

void tst_MacSettingsView::modelsShowInstalledAndDownloadOneAtATime()
{
    const auto buttons = [this] {
        return UiTest::findAllVisible(m_rig->view->contentItem(), QStringLiteral("downloadButton"));
    };
    QCOMPARE(buttons().size(), 4);
    ModelManager &models = m_rig->models;
    QDir().mkpath(models.modelsDirectory());
    const QString base = QDir(models.modelsDirectory()).filePath(QStringLiteral("ggml-base.bin"));

    // a download that fails says why where its progress was
    QTemporaryDir served;
    WhisperModelShape unusable = WhisperModelShape::tiny();
    unusable.textContext = 2;
    QCOMPARE(WhisperModelWriter::writeModel(served.filePath(QStringLiteral("bad.bin")), unusable, 1), QString());
    QFile badFile(served.filePath(QStringLiteral("bad.bin")));
    QVERIFY(badFile.open(QIODevice::ReadOnly));
    const QByteArray badModel = badFile.readAll();
    m_server.setResponse(QStringLiteral("/ggml-base.bin"), LoopbackHttpServer::Response::withBody(badModel));
    UiTest::click(m_rig->view.get(), buttons().first());
    const QString baseFailed =
        QStringLiteral("ggml-base.bin: Not a Whisper model: a text context of 2 where Whisper models have 16.");
    QTRY_COMPARE(text(QStringLiteral("downloadStatus")), baseFailed);
    QTRY_VERIFY(buttons().first()->isEnabled());
    // the greyed button gave the focus to the line that says why
    QCOMPARE(m_rig->view->activeFocusItem(), item(QStringLiteral("downloadStatus")));
    QVERIFY(!QFileInfo::exists(base));
    QCOMPARE(buttons().size(), 4);

    // ...and so does one the application started on its own, as at launch
    ModelDescriptor large = ModelDescriptor::whisperLargeV3();
    large.downloadURL = m_server.url(QLatin1Char('/') + large.id);
    large.expectedBytes = 3'000'000;
    m_server.setResponse(QLatin1Char('/') + large.id, LoopbackHttpServer::Response::withBody(badModel));
    ModelDownloadService launchDownload;
    QVERIFY(waitForFuture(launchDownload.download(large, &models), 15'000));
    QTRY_COMPARE(text(QStringLiteral("downloadStatus")),
                 baseFailed + QStringLiteral("\nggml-large-v3-q5_0.bin: Not a Whisper model: a text context of 2 "
                                             "where Whisper models have 16."));
    UiTest::screenshot(m_rig->view.get(), QStringLiteral("settings-download-failures"));

    // a model in place after all is no longer reported
    QCOMPARE(WhisperModelWriter::writeTinyModel(base), QString());
    models.refreshInstalledModels();
    QTRY_VERIFY(!text(QStringLiteral("downloadStatus")).contains(QLatin1String("ggml-base.bin")));
    QQuickItem *baseRow = item(QStringLiteral("modelRow_ggml-base.bin"));
    QTRY_VERIFY(UiTest::findVisible(baseRow, QStringLiteral("installedMark")));
    QCOMPARE(buttons().size(), 3);

    QFile baseFile(base);
    QVERIFY(baseFile.open(QIODevice::ReadOnly));
    LoopbackHttpServer::Response slow = LoopbackHttpServer::Response::withBody(baseFile.readAll());
    slow.stallAfterBytes = 4096;
    slow.stallMs = 1500;
    m_server.setResponse(QStringLiteral("/ggml-large-v3-q5_0.bin"), slow);
    const QString largeRow = QStringLiteral("modelRow_ggml-large-v3-q5_0.bin");
    const int requestsBefore = m_server.requestCount();
    // pressed from the keyboard: the status takes the focus, ringed, for the
    // whole download, and the next control once the download is done
    UiTest::findVisible(item(largeRow), QStringLiteral("downloadButton"))->forceActiveFocus(Qt::TabFocusReason);
    QTest::keyClick(m_rig->view.get(), Qt::Key_Space);
    QTRY_VERIFY(item(QStringLiteral("downloadProgressRow")));
    QQuickItem *status = item(QStringLiteral("downloadStatus"));
    QCOMPARE(m_rig->view->activeFocusItem(), status);
    QQuickItem *ring = status->childItems().value(0);
    QVERIFY(ring && ring->isVisible());
    UiTest::screenshot(m_rig->view.get(), QStringLiteral("settings-downloading"));
    // greyed, and so for a screen reader too
    for (QQuickItem *button : buttons())
        QVERIFY(QAccessible::queryAccessibleInterface(button)->state().disabled);
    QTRY_VERIFY(text(QStringLiteral("downloadStatus")).contains(QLatin1String(" / ")));
    QVERIFY(UiTest::readableTexts(m_rig->view.get()).contains(text(QStringLiteral("downloadStatus"))));
    // a second press, on the same row or another, starts nothing
    UiTest::click(m_rig->view.get(), buttons().first());
    UiTest::click(m_rig->view.get(), buttons().last());
    QTRY_VERIFY_WITH_TIMEOUT(!item(QStringLiteral("downloadProgressRow")), 15000);
    QCOMPARE(m_server.requestCount(), requestsBefore + 1);
    QVERIFY(UiTest::findVisible(item(largeRow), QStringLiteral("installedMark")));
    QVERIFY(buttons().first()->isEnabled());
    QCOMPARE(m_rig->view->activeFocusItem(), item(QStringLiteral("modePicker")));
    UiTest::screenshot(m_rig->view.get(), QStringLiteral("settings-downloaded"));
}

void tst_MacSettingsView::launchAtLoginTellsTheTruthAndActsOnlyOnChange()
{
    FakeLoginItems &login = m_rig->platform.fakeLoginItems();
    QQuickItem *toggle = item(QStringLiteral("launchAtLoginSwitch"));
    // still registered from an earlier run: shown on, and showing acts on nothing
    QVERIFY(toggle->property("checked").toBool());
    QVERIFY(login.calls.isEmpty());

    // by keyboard, as a switch reached with Tab is
    item(QStringLiteral("launchAtLoginSwitch"))->forceActiveFocus(Qt::TabFocusReason);
    QTest::keyClick(m_rig->view.get(), Qt::Key_Return);
    QTest::keyClick(m_rig->view.get(), Qt::Key_Enter);
    QCOMPARE(login.calls, QStringList({QStringLiteral("unregister"), QStringLiteral("register")}));

    // a refused change keeps the user's value; the next appearance reads the entry again
    login.refusal = QStringLiteral("Permission denied");
    click(QStringLiteral("launchAtLoginSwitch"));
    QCOMPARE(login.calls.size(), 3);
    QVERIFY(!toggle->property("checked").toBool());
    reappear();
    QVERIFY(toggle->property("checked").toBool());
    QCOMPARE(login.calls.size(), 3);
}

void tst_MacSettingsView::accessibilityIsReadOffTheMainThreadOnEachAppearance()
{
    FakeAccessibility &accessibility = m_rig->platform.fakeAccessibility();
    QTRY_VERIFY(item(QStringLiteral("grantAccessButton")));
    QVERIFY(!item(QStringLiteral("accessibilityEnabled")));
    // a read waits on D-Bus, for as long as its timeout when the bus hangs
    QVERIFY(accessibility.trustReadThread && accessibility.trustReadThread != QThread::currentThread());

    click(QStringLiteral("grantAccessButton"));
    QTest::qWait(50);
    QVERIFY(item(QStringLiteral("grantAccessButton"))); // as it was until drawn again
    reappear();
    // the read queues behind the request
    QTRY_VERIFY(item(QStringLiteral("accessibilityEnabled")));
    QVERIFY(accessibility.calls.contains(QStringLiteral("requestAccess")));
    QVERIFY(!item(QStringLiteral("grantAccessButton")));
    QVERIFY(UiTest::readableTexts(m_rig->view.get()).contains(QStringLiteral("Enabled")));
}

void tst_MacSettingsView::aScreenReaderTogglesAndPresses()
{
    const auto act = [this](const QString &name, const QString &action) {
        QAccessibleInterface *control = QAccessible::queryAccessibleInterface(item(name));
        QVERIFY(control && control->actionInterface());
        control->actionInterface()->doAction(action);
    };
    act(QStringLiteral("largeModelSwitch"), QAccessibleActionInterface::toggleAction());
    QTRY_VERIFY(m_rig->viewModel.largeModelEnabled());
    QVERIFY(item(QStringLiteral("largeModelSwitch"))->property("checked").toBool());

    QTRY_VERIFY(item(QStringLiteral("grantAccessButton")));
    act(QStringLiteral("grantAccessButton"), QAccessibleActionInterface::pressAction());
    reappear();
    QTRY_VERIFY(item(QStringLiteral("accessibilityEnabled")));
}

void tst_MacSettingsView::voiceCardWithoutNeuralEngineStillPreviews()
{
    FakeVoiceSettings &voice = m_rig->voice;
    voice.neural = false;
    emit voice.changed();
    QCOMPARE(text(QStringLiteral("voiceStatus")), QStringLiteral("Neural voices are unavailable on this system"));
    click(QStringLiteral("previewButton"));
    QCOMPARE(voice.calls, QStringList({QStringLiteral("stop"), QStringLiteral("system: ") + VoiceSettings::previewSentence}));

    voice.calls.clear();
    voice.neural = true;
    voice.modelLoaded = true;
    voice.voices = {QStringLiteral("bm_george"), QStringLiteral("af_heart")};
    emit voice.changed();
    choose(QStringLiteral("voicePicker"), QStringLiteral("American Female — Heart"));
    click(QStringLiteral("previewButton"));
    QCOMPARE(voice.calls, QStringList({QStringLiteral("select af_heart"), QStringLiteral("stop"),
                                       QStringLiteral("neural: ") + VoiceSettings::previewSentence}));
}

void tst_MacSettingsView::voicePackDownloadKeepsTheFocus()
{
    // the button goes while the pack downloads, and comes back when it fails
    FakeVoiceSettings &voice = m_rig->voice;
    item(QStringLiteral("voicePackDownloadButton"))->forceActiveFocus(Qt::TabFocusReason);
    QTest::keyClick(m_rig->view.get(), Qt::Key_Space);
    QCOMPARE(voice.calls, QStringList{QStringLiteral("download")});
    QTRY_COMPARE(m_rig->view->activeFocusItem(), item(QStringLiteral("voicePackProgress")));
    QTest::qWait(50);
    UiTest::screenshot(m_rig->view.get(), QStringLiteral("settings-voice-pack-downloading"));
    voice.packDownloading = false;
    emit voice.changed();
    QTRY_COMPARE(m_rig->view->activeFocusItem(), item(QStringLiteral("voicePackDownloadButton")));
    QVERIFY(item(QStringLiteral("voicePackDownloadButton"))->property("visualFocus").toBool());
}

void tst_MacSettingsView::screenshots()
{
    QQuickView *view = m_rig->view.get();
    m_rig->models.setIsDownloading(true);
    m_rig->models.setDownloadProgress(0.42);
    m_rig->models.setDownloadStatusText(QStringLiteral("630 MB / 1.5 GB"));
    m_rig->viewModel.setLargeModelEnabled(true);
    QTest::qWait(100);
    const QImage top = UiTest::screenshot(view, QStringLiteral("settings-top"));
    QVERIFY(UiTest::distinctColours(top) > 30);
    // the progress line in the Models card, the purple HD badge in the Pipeline card
    QVERIFY(UiTest::shareOfColour(top.copy(0, 40, 480, 220), QColor(0x00, 0x7a, 0xff), 60) > 0.002);
    QVERIFY(UiTest::shareOfColour(top.copy(0, 330, 480, 40), QColor(0xaf, 0x52, 0xde), 80) > 0.001);

    FakeVoiceSettings &voice = m_rig->voice;
    voice.modelLoaded = true;
    voice.voices = {QStringLiteral("bm_george"), QStringLiteral("af_heart")};
    voice.engine = QStringLiteral("Kokoro · af_heart");
    voice.packDownloading = true;
    voice.packProgress = 0.3;
    emit voice.changed();
    emit voice.voicePackProgressChanged();
    m_rig->viewModel.setUnavailableChords({QStringLiteral("Super Space")});
    QTRY_COMPARE(UiTest::findAllVisible(view->contentItem(), QStringLiteral("chordUnavailable")).size(), 1);
    QQuickItem *card = item(QStringLiteral("voiceCard"));
    auto *flickable = qvariant_cast<QObject *>(view->rootObject()->property("flickable"));
    flickable->setProperty("contentY", card->mapToItem(view->rootObject(), QPointF()).y() - 8);
    QTest::qWait(100);
    const QImage shot = UiTest::screenshot(view, QStringLiteral("settings-voice"));
    const QRectF cardRect = card->mapRectToScene(QRectF(0, 0, card->width(), card->height()));
    QVERIFY(UiTest::shareOfColour(shot.copy(cardRect.toRect()), QColor(0x00, 0x7a, 0xff), 60) > 0.005);

    // the voices' list, opened by a screen reader's Press, lies whole in the window
    QQuickItem *picker = item(QStringLiteral("voicePicker"));
    QAccessible::queryAccessibleInterface(picker)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    auto *popup = qvariant_cast<QObject *>(picker->property("popup"));
    QTRY_VERIFY(popup->property("opened").toBool());
    QQuickItem *list = qvariant_cast<QQuickItem *>(popup->property("contentItem"));
    const QRectF listRect = list->mapRectToScene(QRectF(0, 0, list->width(), list->height()));
    QVERIFY(QRectF(0, 0, view->width(), view->height()).contains(listRect));
    UiTest::screenshot(view, QStringLiteral("settings-voice-picker-open"));
    QTest::keyClick(view, Qt::Key_Escape);
    QTRY_VERIFY(!popup->property("visible").toBool());

    flickable->setProperty("contentY", flickable->property("contentHeight").toReal() - view->height());
    QTest::qWait(100);
    QVERIFY(UiTest::distinctColours(UiTest::screenshot(view, QStringLiteral("settings-bottom"))) > 30);
}

QTEST_MAIN(tst_MacSettingsView)
#include "tst_MacSettingsView.moc"
