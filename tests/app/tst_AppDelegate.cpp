#include "app/AppDelegate.h"
#include "app/DictationOverlayModel.h"
#include "app/MenubarViewModel.h"
#include "app/OverlayPanel.h"
#include "models/CoreMLEncoderDownloader.h"
#include "pipeline/GlobalHotkeyService.h"
#include "pipeline/TextInjectionService.h"
#include "platform/fake/FakePlatform.h"
#include "profile/VoiceProfileStore.h"
#include "speech/SelectionReader.h"
#include "speech/TextToSpeechService.h"
#include "support/CoordinatorRig.h"
#include "support/LogCapture.h"

#include <QtTest>

using namespace std::chrono_literals;

namespace {
class CountingOverlay : public OverlayPanel {
public:
    void show() override { ++shows; }
    void hide() override { ++hides; }
    int shows = 0;
    int hides = 0;
};
} // namespace

// The delegate's rules on a coordinator of fakes, its time driven by the test.
class tst_AppDelegate : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void hotkeyRules_data();
    void hotkeyRules();
    void fallbackPasteTypesTheLastTextOnly();
    void overlayHideChain_data();
    void overlayHideChain();
    void failedStartIsToldWhereItWasAsked_data();
    void failedStartIsToldWhereItWasAsked();
    void unsavedHistoryIsToldOncePerLaunch();
    void chordsTakenByAnotherProgramAreMarkedAndTold();
    void hotkeysThatCannotWorkAreToldAndNotLoggedAsRegistered();
    void quittingRecordsTheDictationNotYetDelivered();

private:
    // Runs space-separated steps: hotkeys (toggle, hold, release), the
    // window's Start button (window), the
    // transcriber (finishStart, refined), wait:<ms>, and checks
    // (hides:<n>, shows:<n>).
    void run(const QString &steps);
    void launch(std::function<void(const QStringList &)> tellChordsUnavailable = {},
                std::function<void()> tellHotkeysUnavailable = {});
    void pass(std::chrono::milliseconds time);

    FakePlatform *m_platform = nullptr;
    std::unique_ptr<RiggedCoordinator> m_coordinator;
    std::unique_ptr<MenubarViewModel> m_viewModel;
    std::unique_ptr<GlobalHotkeyService> m_hotkeys;
    std::unique_ptr<TextInjectionService> m_keys;
    std::unique_ptr<SelectionReader> m_reader;
    std::unique_ptr<TextToSpeechService> m_speech;
    std::unique_ptr<CoreMLEncoderDownloader> m_encoders;
    CountingOverlay m_overlay;
    std::unique_ptr<AppDelegate> m_delegate;
};

void tst_AppDelegate::init()
{
    m_platform = &FakePlatform::installNew();
    m_coordinator = std::make_unique<RiggedCoordinator>();
    m_viewModel = std::make_unique<MenubarViewModel>(MenubarViewModel::Collaborators{
        *m_coordinator, m_coordinator->models, m_coordinator->store, m_platform->pasteboard(),
        m_coordinator->settings, {}});
    m_hotkeys = std::make_unique<GlobalHotkeyService>(m_platform->keyEventSource(), m_platform->accessibility(),
                                                      m_coordinator->clock);
    m_platform->fakeNeuralVoiceEngine().available = false; // so nothing downloads
    m_keys = std::make_unique<TextInjectionService>(*m_platform, m_coordinator->clock);
    m_reader = std::make_unique<SelectionReader>(m_platform->workspace(), m_platform->accessibility(),
                                                 m_platform->pasteboard(), *m_keys, m_coordinator->clock);
    m_speech = std::make_unique<TextToSpeechService>(TextToSpeechService::Collaborators{
        m_platform->settings(), m_platform->audioOutput(), m_platform->systemSpeechSynthesizer(),
        m_platform->neuralVoiceEngine(), *m_reader, m_coordinator->directory.filePath(QStringLiteral("models"))});
    m_encoders = std::make_unique<CoreMLEncoderDownloader>(m_coordinator->models,
                                                           QList<CoreMLEncoderDownloader::Encoder>{});
    m_overlay = {};
    launch();
}

void tst_AppDelegate::launch(std::function<void(const QStringList &)> tellChordsUnavailable,
                             std::function<void()> tellHotkeysUnavailable)
{
    m_delegate.reset();
    m_delegate = std::make_unique<AppDelegate>(AppDelegate::Collaborators{
        *m_viewModel, *m_hotkeys, m_coordinator->injector, *m_speech, *m_encoders, m_platform->accessibility(),
        m_coordinator->clock, [this]() -> OverlayPanel & { return m_overlay; }, {}, {},
        std::move(tellChordsUnavailable), std::move(tellHotkeysUnavailable)});
    m_delegate->applicationDidFinishLaunching();
}

void tst_AppDelegate::cleanup()
{
    m_delegate.reset();
    m_viewModel.reset();
    m_coordinator.reset();
}

void tst_AppDelegate::pass(std::chrono::milliseconds time)
{
    for (auto passed = 0ms; passed < time; passed += 50ms) {
        QCoreApplication::processEvents();
        m_coordinator->clock.advance(std::min(50ms, time - passed));
    }
    QCoreApplication::processEvents();
}

void tst_AppDelegate::run(const QString &steps)
{
    for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
        const QString name = step.section(u':', 0, 0);
        const int value = step.section(u':', 1).toInt();
        if (name == QLatin1String("toggle"))
            m_hotkeys->onToggle();
        else if (name == QLatin1String("hold"))
            m_hotkeys->onHoldStart();
        else if (name == QLatin1String("release"))
            m_hotkeys->onHoldRelease();
        else if (name == QLatin1String("window"))
            m_viewModel->toggleDictation();
        else if (name == QLatin1String("finishStart"))
            m_coordinator->transcriber.completeStart();
        else if (name == QLatin1String("refined"))
            m_coordinator->transcriber.report(QStringLiteral("base:refined text"));
        else if (name == QLatin1String("wait"))
            pass(std::chrono::milliseconds(value));
        else if (name == QLatin1String("hides"))
            QVERIFY2(m_overlay.hides == value, qPrintable(step + QStringLiteral(" but %1").arg(m_overlay.hides)));
        else if (name == QLatin1String("shows"))
            QVERIFY2(m_overlay.shows == value, qPrintable(step + QStringLiteral(" but %1").arg(m_overlay.shows)));
        else
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        pass(100ms); // the handlers continue on the event loop
    }
}

void tst_AppDelegate::hotkeyRules_data()
{
    QTest::addColumn<bool>("slowStart");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<bool>("dictating");
    QTest::addColumn<QString>("mode");

    QTest::newRow("hold start while a toggle dictation runs") << false << "toggle hold" << true << "toggle";
    QTest::newRow("hold start while a toggle dictation starts") << true << "toggle hold finishStart" << true << "toggle";
    QTest::newRow("toggle during a hold") << false << "hold toggle" << false << "toggle";
    QTest::newRow("hold and release") << false << "hold release" << false << "hold";
    QTest::newRow("release before the start finished") << true << "hold release finishStart" << false << "hold";
    QTest::newRow("release with nothing running") << false << "release" << false << "toggle";
}

void tst_AppDelegate::hotkeyRules()
{
    QFETCH(bool, slowStart);
    QFETCH(QString, steps);
    m_coordinator->transcriber.holdStart = slowStart;
    run(steps);
    QTEST(m_coordinator->isDictating(), "dictating");
    QVERIFY(!m_coordinator->isStarting());
    QTEST(m_coordinator->activeDictationModeName(), "mode");
}

void tst_AppDelegate::fallbackPasteTypesTheLastTextOnly()
{
    LogCapture log;
    m_hotkeys->onFallbackPaste();
    pass(100ms);
    QVERIFY(m_coordinator->injector.texts.isEmpty());
    QVERIFY(log.contains(QStringLiteral("[AppDelegate] No transcription to paste")));

    m_coordinator->transcriber.finalText = QStringLiteral("buy milk");
    run(QStringLiteral("hold wait:500 release wait:500"));
    QCOMPARE(m_coordinator->injector.texts.size(), 1);
    m_hotkeys->onFallbackPaste();
    pass(100ms);
    QCOMPARE(m_coordinator->injector.texts, QStringList(2, m_coordinator->lastTranscribedText()));
}

void tst_AppDelegate::overlayHideChain_data()
{
    QTest::addColumn<QString>("steps");
    // A stop leaves Whisper refining until "refined"; the hide comes 2 s
    // after the first half-second check that finds nothing running.
    QTest::newRow("hidden 2 s after the stages end")
        << "hold shows:1 release wait:10000 hides:0 refined wait:1800 hides:0 wait:800 hides:1";
    QTest::newRow("a stage that never ends is hidden at the limit")
        << "hold release wait:121000 hides:0 wait:2000 hides:1";
    QTest::newRow("a newer dictation keeps it")
        << "hold release refined wait:1000 hold shows:2 wait:5000 hides:0";
    QTest::newRow("a newer dictation's stages keep it")
        << "hold release refined wait:500 hold release wait:5000 hides:0 refined wait:3000 hides:1";
}

void tst_AppDelegate::overlayHideChain()
{
    QFETCH(QString, steps);
    run(steps);
}

void tst_AppDelegate::failedStartIsToldWhereItWasAsked_data()
{
    QTest::addColumn<bool>("microphone");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("status");

    const QString noModel = QStringLiteral("No Whisper ASR model is installed.");
    // The overlay shows the reason under its title, then hides as after a dictation.
    QTest::newRow("toggle without a model") << true << "toggle shows:1 wait:2000 hides:0 wait:600 hides:1"
                                            << QStringLiteral("Failed to start: ") + noModel;
    QTest::newRow("hold with the microphone refused")
        << false << "hold shows:1 release wait:2000 hides:0 wait:600 hides:1"
        << QStringLiteral("Microphone permission denied");
    // The window's button: the window says it, the overlay stays away.
    QTest::newRow("the window's button") << true << "window wait:3000 shows:0 hides:0"
                                         << QStringLiteral("Failed to start: ") + noModel;
    QTest::newRow("the window's button after a failed hotkey start")
        << true << "toggle wait:3000 shows:1 window wait:3000 shows:1" << QStringLiteral("Failed to start: ") + noModel;
}

void tst_AppDelegate::failedStartIsToldWhereItWasAsked()
{
    QFETCH(bool, microphone);
    QFETCH(QString, steps);
    m_coordinator->audioInput.setAccess(microphone ? AudioInput::Access::granted : AudioInput::Access::refused);
    m_coordinator->transcriber.startFailure = QStringLiteral("No Whisper ASR model is installed.");
    DictationOverlayModel overlay;
    overlay.follow(*m_coordinator);
    run(steps);
    QVERIFY(!m_coordinator->isDictating());
    QTEST(m_viewModel->startFailure(), "status");
    QVERIFY(overlay.startFailed());
    // the next start clears it as it begins, not once it has succeeded
    m_coordinator->audioInput.setAccess(AudioInput::Access::granted);
    m_coordinator->transcriber.startFailure.reset();
    m_coordinator->transcriber.holdStart = true;
    run(QStringLiteral("toggle"));
    QVERIFY(m_coordinator->isStarting());
    QCOMPARE(m_viewModel->startFailure(), QString());
    QVERIFY(!overlay.startFailed());
    run(QStringLiteral("finishStart"));
    QVERIFY(m_coordinator->isDictating());
    QCOMPARE(m_viewModel->startFailure(), QString());
}

void tst_AppDelegate::unsavedHistoryIsToldOncePerLaunch()
{
    VoiceProfileStore store(m_coordinator->directory.filePath(QStringLiteral("missing/voice_profile.sqlite")));
    QStringList told;
    m_delegate->tellWhenHistoryIsNotSaved(store, [&](const QString &message) { told.append(message); });
    store.logSession(1, 1, QStringLiteral("en"), QStringLiteral("a"), QStringLiteral("a")); // a second failure
    store.totalWords(); // both have been told
    QCoreApplication::processEvents();
    QCOMPARE(told.size(), 1);
    QVERIFY(told.first().startsWith(QStringLiteral("Your dictation history cannot be saved (unable to open")));
}

void tst_AppDelegate::chordsTakenByAnotherProgramAreMarkedAndTold()
{
    QCOMPARE(m_viewModel->unavailableChords(), QStringList());
    const QStringList taken{QStringLiteral("Super Space"), QStringLiteral("Ctrl Alt R")};
    m_platform->fakeKeyEventSource().takenChords = taken;
    QList<QStringList> told;
    launch([&](const QStringList &chords) { told.append(chords); });
    // the Shortcuts card strikes them out; the tray says so once
    QCOMPARE(m_viewModel->unavailableChords(), taken);
    QCOMPARE(told, QList<QStringList>{taken});
}

void tst_AppDelegate::hotkeysThatCannotWorkAreToldAndNotLoggedAsRegistered()
{
    m_platform->fakeKeyEventSource().available = false;
    LogCapture log;
    QList<QStringList> chordsTold;
    int told = 0;
    launch([&](const QStringList &chords) { chordsTold.append(chords); }, [&] { ++told; });
    QCOMPARE(told, 1);
    QCOMPARE(chordsTold, QList<QStringList>());
    QVERIFY2(!log.contains(QStringLiteral("[Hotkey] Registered")), qPrintable(log.lines().join(u'\n')));
}

void tst_AppDelegate::quittingRecordsTheDictationNotYetDelivered()
{
    m_coordinator->transcriber.holdStop = true; // a remote reply that does not come
    m_coordinator->transcriber.liveText = QStringLiteral("said before quitting");
    run(QStringLiteral("toggle toggle"));
    QVERIFY(m_coordinator->isProcessing());

    m_delegate->applicationWillTerminate();
    const QList<VoiceProfileStore::RecentSession> sessions = m_coordinator->store.recentSessions(10);
    QCOMPARE(sessions.size(), 1);
    QCOMPARE(sessions.first().rawTranscript, QStringLiteral("Said before quitting"));
    QVERIFY(m_coordinator->injector.texts.isEmpty());
}

QTEST_MAIN(tst_AppDelegate)
#include "tst_AppDelegate.moc"
