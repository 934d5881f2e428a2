#include "pipeline/CloudApiSettings.h"
#include "platform/fake/FakePlatform.h"
#include "profile/SqliteProbe.h"
#include "support/CoordinatorRig.h"
#include "support/FutureWait.h"
#include "support/LogCapture.h"
#include "support/LoopbackHttpServer.h"

#include <QtTest>

Q_DECLARE_METATYPE(AudioInput::Access)

using namespace std::chrono_literals;
using Coordinator = DictationSessionCoordinator;

class tst_DictationSessionCoordinator : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void refusesStartsWhileBusy_data();
    void refusesStartsWhileBusy();
    void startFailuresLeaveNothingRunning_data();
    void startFailuresLeaveNothingRunning();
    void holdReleasedDuringStartStopsOnceStarted();
    void framesReachTheTranscriberInCaptureOrder();
    void deliversPerMode_data();
    void deliversPerMode();
    void partialTextNeverShrinksWhileDictating();
    void refinementOutcomes_data();
    void refinementOutcomes();
    void stageClocksShareOneTicker();
    void eachDictationTakesOnlyItsOwnRefinement();
    void stopFailureEndsTheStages();
    void cloudDictationCountsTheMinutesTheServerDidNot();
    void cloudFailureDeliversTheLiveTextAndSaysWhy();
    void silentCloudCostsNeitherTheTextNorTheLength_data();
    void silentCloudCostsNeitherTheTextNorTheLength();
    void quitDuringALaterRecordingRecordsOnlyThatOne();
    void recordsTheTextAsItIsTyped_data();
    void recordsTheTextAsItIsTyped();
    void reactivatesTheTargetBeforeTyping();
    void lockedProfileCostsOnlyThatDictationsLearning();

private:
    // Lets the fake clock run by, in steps, with the events each step brings.
    static void pass(RealTranscriberCoordinator &coordinator, std::chrono::milliseconds time);
    // A dictation of the given text through start and stop.
    void dictate(const QString &finalText);
    void deliverFrames(const AudioSamples &frames) { m_coordinator->audioInput.deliver({{frames}, int(frames.size())}); }

    FakePlatform *m_platform = nullptr;
    std::unique_ptr<RiggedCoordinator> m_coordinator;
};

void tst_DictationSessionCoordinator::init()
{
    m_platform = &FakePlatform::installNew();
    m_coordinator = std::make_unique<RiggedCoordinator>();
}

void tst_DictationSessionCoordinator::cleanup()
{
    m_coordinator.reset();
}

void tst_DictationSessionCoordinator::pass(RealTranscriberCoordinator &coordinator, std::chrono::milliseconds time)
{
    for (auto passed = 0ms; passed < time; passed += 500ms) {
        QCoreApplication::processEvents();
        coordinator.clock.advance(std::min(500ms, time - passed));
    }
    QCoreApplication::processEvents();
}

void tst_DictationSessionCoordinator::dictate(const QString &finalText)
{
    m_coordinator->transcriber.finalText = finalText;
    QVERIFY(waitForFuture(m_coordinator->startDictation()));
    QVERIFY(m_coordinator->isDictating());
    deliverFrames({0.1f, -0.1f});
    QVERIFY(waitForFuture(m_coordinator->stopDictation()));
}

void tst_DictationSessionCoordinator::refusesStartsWhileBusy_data()
{
    QTest::addColumn<QString>("busy");
    QTest::newRow("starting") << "starting";
    QTest::newRow("dictating") << "dictating";
    QTest::newRow("processing") << "processing";
}

void tst_DictationSessionCoordinator::refusesStartsWhileBusy()
{
    QFETCH(QString, busy);
    m_coordinator->transcriber.holdStart = busy == QLatin1String("starting");
    m_coordinator->rewriter.hold = busy == QLatin1String("processing");
    m_coordinator->selectedASRModel = ASRModelPreference::whisperBase;
    m_coordinator->startDictation();
    QTRY_COMPARE(m_coordinator->transcriber.starts, 1);
    if (busy == QLatin1String("processing")) {
        m_coordinator->stopDictation();
        QTRY_COMPARE(m_coordinator->rewriter.held.size(), 1);
        QVERIFY(m_coordinator->isProcessing());
    }
    QCOMPARE(m_coordinator->isStarting(), busy == QLatin1String("starting"));

    m_coordinator->startDictation();
    m_coordinator->toggleDictation(); // a stop (or stop request) when busy starting or dictating
    QTest::qWait(20);
    QCOMPARE(m_coordinator->transcriber.starts, 1);
    QCOMPARE(m_coordinator->audioInput.startCount(), 1);
    if (busy == QLatin1String("processing")) // the press is not ignored in silence
        QCOMPARE(m_coordinator->statusText(),
                 QStringLiteral("Still processing the last dictation; press again when it is done"));
}

void tst_DictationSessionCoordinator::startFailuresLeaveNothingRunning_data()
{
    QTest::addColumn<AudioInput::Access>("access");
    QTest::addColumn<QString>("micFailure");
    QTest::addColumn<QString>("transcriberFailure");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("transcriberStarts");

    using Access = AudioInput::Access;
    QTest::newRow("permission refused") << Access::refused << "" << "" << "Microphone permission denied" << 0;
    // nothing was refused: there is nothing to record with
    QTest::newRow("no microphone") << Access::noDevice << "" << "" << "No microphone found" << 0;
    QTest::newRow("microphone fails") << Access::granted << "no input device" << "" << "Failed to start: no input device" << 0;
    QTest::newRow("transcriber fails") << Access::granted << "" << "model missing" << "Failed to start: model missing" << 1;
}

void tst_DictationSessionCoordinator::startFailuresLeaveNothingRunning()
{
    QFETCH(AudioInput::Access, access);
    QFETCH(QString, micFailure);
    QFETCH(QString, transcriberFailure);
    QFETCH(QString, status);
    QFETCH(int, transcriberStarts);

    m_coordinator->audioInput.setAccess(access);
    if (!micFailure.isEmpty())
        m_coordinator->audioInput.failNextStart(micFailure);
    if (!transcriberFailure.isEmpty())
        m_coordinator->transcriber.startFailure = transcriberFailure;
    QVERIFY(waitForFuture(m_coordinator->startDictation()));
    QCOMPARE(m_coordinator->statusText(), status);
    QVERIFY(!m_coordinator->isDictating());
    QVERIFY(!m_coordinator->isStarting());
    QCOMPARE(m_coordinator->transcriber.starts, transcriberStarts);
    // the microphone is not left recording for nobody
    QVERIFY(!m_coordinator->audioInput.isRunning());
}

void tst_DictationSessionCoordinator::holdReleasedDuringStartStopsOnceStarted()
{
    m_coordinator->transcriber.holdStart = true;
    m_coordinator->transcriber.finalText = QStringLiteral("short one");
    m_coordinator->selectedASRModel = ASRModelPreference::appleSpeechFast;
    QSignalSpy dictating(m_coordinator.get(), &Coordinator::isDictatingChanged);
    const QFuture<void> started = m_coordinator->startDictation();
    QTRY_COMPARE(m_coordinator->transcriber.starts, 1);
    QVERIFY(m_coordinator->isStarting());

    const QFuture<void> stopped = m_coordinator->stopDictation(); // the key is released
    QCOMPARE(m_coordinator->transcriber.stops, 0);
    m_coordinator->transcriber.completeStart();
    QVERIFY(waitForFuture(stopped));
    QVERIFY(started.isFinished());
    QCOMPARE(dictating.count(), 2); // on, then off
    QVERIFY(!m_coordinator->isDictating());
    QVERIFY(!m_coordinator->audioInput.isRunning());
    QCOMPARE(m_coordinator->transcriber.stops, 1);
    QCOMPARE(m_coordinator->injector.texts, QStringList{QStringLiteral("rewritten: Short one")});
}

void tst_DictationSessionCoordinator::framesReachTheTranscriberInCaptureOrder()
{
    m_coordinator->transcriber.holdStart = true;
    m_coordinator->startDictation();
    QTRY_COMPARE(m_coordinator->transcriber.starts, 1);
    // speech before the transcriber is ready is kept, not lost
    deliverFrames({0.1f, 0.2f});
    deliverFrames({});
    deliverFrames({0.3f});
    QTRY_COMPARE(m_coordinator->audioLevel(), 1.0f);
    QVERIFY(m_coordinator->transcriber.appended.isEmpty());
    m_coordinator->transcriber.completeStart();
    QTRY_VERIFY(m_coordinator->isDictating());
    deliverFrames({0.4f});
    deliverFrames({0.01f, -0.01f}); // the last buffer, posted just before the stop
    QVERIFY(waitForFuture(m_coordinator->stopDictation()));
    QCOMPARE(m_coordinator->transcriber.appended, (AudioSamples{0.1f, 0.2f, 0.3f, 0.4f, 0.01f, -0.01f}));
    QCOMPARE(m_coordinator->audioLevel(), 0.05f);
}

void tst_DictationSessionCoordinator::deliversPerMode_data()
{
    QTest::addColumn<ASRModelPreference>("mode");
    QTest::addColumn<bool>("autoRewrite");
    QTest::addColumn<bool>("fillerRemoval");
    QTest::addColumn<QString>("spoken");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("finalText");
    QTest::addColumn<QString>("status");

    // "um" is a filler, "colon" spoken punctuation, "tavrun" a dictionary term
    const QString spoken = QStringLiteral("um Tavrun colon ready");
    QTest::newRow("parallel: live text only") << ASRModelPreference::parallelFast << true << true << spoken
                                              << "Tavrun: ready" << "" << "Refining with Whisper...";
    QTest::newRow("whisper: rewrite then dictionary")
        << ASRModelPreference::whisperBase << true << true << spoken << "rewritten: Tavrune: ready"
        << "rewritten: Tavrune: ready" << "Done";
    QTest::newRow("live only, no rewrite: dictionary") << ASRModelPreference::auto_ << false << true << spoken
                                                       << "Tavrune: ready" << "Tavrune: ready" << "Done";
    QTest::newRow("filler removal off") << ASRModelPreference::auto_ << false << false << spoken
                                        << "Um Tavrune: ready" << "Um Tavrune: ready" << "Done";
    QTest::newRow("nothing left after filler removal: uncleaned")
        << ASRModelPreference::auto_ << false << true << "um" << "Um" << "Um" << "Done";
    // after an earlier dictation: a fallback paste then has nothing to paste
    QTest::newRow("nothing said") << ASRModelPreference::auto_ << false << true << "" << "" << "" << "Done";
}

void tst_DictationSessionCoordinator::deliversPerMode()
{
    QFETCH(ASRModelPreference, mode);
    QFETCH(bool, autoRewrite);
    QFETCH(bool, fillerRemoval);
    QFETCH(QString, spoken);
    QFETCH(QString, typed);
    QFETCH(QString, finalText);
    QFETCH(QString, status);

    m_coordinator->store.addCustomTerm(QStringLiteral("Tavrun"), QStringLiteral("Tavrune"), QStringLiteral("en"));
    m_coordinator->selectedASRModel = mode;
    m_coordinator->autoRewriteEnabled = autoRewrite;
    m_coordinator->fillerRemovalEnabled = fillerRemoval;
    if (spoken.isEmpty())
        dictate(QStringLiteral("earlier words"));
    dictate(spoken);

    QCOMPARE(m_coordinator->injector.texts.last(), typed);
    QCOMPARE(m_coordinator->finalText(), finalText);
    QCOMPARE(m_coordinator->lastTranscribedText(), typed);
    QCOMPARE(m_coordinator->statusText(), status);
    QVERIFY(!m_coordinator->isProcessing());
}

void tst_DictationSessionCoordinator::partialTextNeverShrinksWhileDictating()
{
    m_coordinator->transcriber.finalText = QStringLiteral("hello");
    QVERIFY(waitForFuture(m_coordinator->startDictation()));
    const auto partial = [this](const char *text) { m_coordinator->transcriber.onPartialText()(QString::fromUtf8(text)); };
    partial("  hello world \n");
    partial("hello");
    partial("   ");
    QCOMPARE(m_coordinator->liveTranscript(), QStringLiteral("hello world"));
    partial("hello there");
    QCOMPARE(m_coordinator->liveTranscript(), QStringLiteral("hello there"));
    m_coordinator->selectedASRModel = ASRModelPreference::whisperBase;
    QVERIFY(waitForFuture(m_coordinator->stopDictation()));
    partial("late");
    QCOMPARE(m_coordinator->liveTranscript(), QStringLiteral("late"));
}

void tst_DictationSessionCoordinator::refinementOutcomes_data()
{
    QTest::addColumn<bool>("large");
    QTest::addColumn<bool>("postProcessing");
    QTest::addColumn<QStringList>("reports");
    QTest::addColumn<QString>("finalText");
    QTest::addColumn<QString>("lastTranscribed");

    const QString live = QStringLiteral("Alpha beta");
    QTest::newRow("base, unmerged") << false << false << QStringList{"base:Alpha beta gamma"} << "Alpha beta gamma"
                                    << "Alpha beta gamma";
    QTest::newRow("base and large, merged") << true << true << QStringList{"base:Alpha beta gamma", "large:Alpha beta gamma delta"}
                                            << "polished: Alpha beta gamma delta" << "polished: Alpha beta gamma delta";
    QTest::newRow("large failed, merged") << true << true << QStringList{"base:Alpha beta gamma", "large:"}
                                          << "polished: Alpha beta gamma" << "polished: Alpha beta gamma";
    QTest::newRow("base and large, unmerged") << true << false << QStringList{"base:Alpha beta gamma", "large:Delta"}
                                              << "Delta" << "Delta";
    QTest::newRow("large failed, unmerged") << true << false << QStringList{"base:Alpha beta gamma", "large:"}
                                            << "Alpha beta gamma" << "Alpha beta gamma";
    QTest::newRow("base failed, merged") << true << true << QStringList{"base:"} << "polished: Alpha beta"
                                         << "polished: Alpha beta";
    QTest::newRow("base failed, unmerged") << false << false << QStringList{"base:"} << live << live;
}

void tst_DictationSessionCoordinator::refinementOutcomes()
{
    QFETCH(bool, large);
    QFETCH(bool, postProcessing);
    QFETCH(QStringList, reports);
    QFETCH(QString, finalText);
    QFETCH(QString, lastTranscribed);

    m_coordinator->largeModelEnabled = large;
    m_coordinator->postProcessingEnabled = postProcessing;
    dictate(QStringLiteral("alpha beta"));
    QVERIFY(m_coordinator->isRefining());
    QCOMPARE(m_coordinator->isLargeModelProcessing(), large);

    for (const QString &report : reports) {
        QTest::qWait(1); // time for a merge started too early
        QCOMPARE(m_coordinator->finalText(), QString());
        QCOMPARE(m_coordinator->statusText(), QStringLiteral("Refining with Whisper..."));
        m_coordinator->transcriber.report(report);
    }
    QTRY_COMPARE(m_coordinator->statusText(), QStringLiteral("Done"));
    QCOMPARE(m_coordinator->finalText(), finalText);
    QCOMPARE(m_coordinator->lastTranscribedText(), lastTranscribed);
    QVERIFY(!m_coordinator->isRefining());
    QVERIFY(!m_coordinator->isLargeModelProcessing());
    QVERIFY(!m_coordinator->isPolishing());
    QVERIFY(!m_coordinator->isElapsedTickerRunning());
    QCOMPARE(m_coordinator->injector.texts, QStringList{QStringLiteral("Alpha beta")}); // nothing typed twice
    // A stage that gave no text says why, until the next dictation starts.
    const bool baseFailed = reports.contains(QStringLiteral("base:"));
    const QString note = m_coordinator->transcriber.failureNote;
    QCOMPARE(m_coordinator->refiningFailure(), baseFailed ? note : QString());
    QCOMPARE(m_coordinator->largeModelFailure(),
             reports.contains(QStringLiteral("large:")) ? note
             : large && baseFailed                      ? QStringLiteral("Skipped: Whisper Base gave no text")
                                                        : QString());
    m_coordinator->startDictation();
    QCOMPARE(m_coordinator->refiningFailure(), QString());
    QCOMPARE(m_coordinator->largeModelFailure(), QString());
}

void tst_DictationSessionCoordinator::stageClocksShareOneTicker()
{
    m_coordinator->largeModelEnabled = true;
    m_coordinator->postProcessingEnabled = false;
    dictate(QStringLiteral("one two"));
    QVERIFY(m_coordinator->isElapsedTickerRunning());
    m_coordinator->clock.advance(350ms);
    QCOMPARE(m_coordinator->refiningElapsedSeconds(), 0.3); // the last tick's view
    QCOMPARE(m_coordinator->largeModelElapsedSeconds(), 0.3);

    m_coordinator->clock.advance(20ms);
    m_coordinator->transcriber.report(QStringLiteral("base:one two three"));
    QCOMPARE(m_coordinator->refiningElapsedSeconds(), 0.37); // its final value
    QVERIFY(m_coordinator->isElapsedTickerRunning());        // still timing the large model
    m_coordinator->clock.advance(100ms);
    QCOMPARE(m_coordinator->refiningElapsedSeconds(), 0.37);
    QCOMPARE(m_coordinator->largeModelElapsedSeconds(), 0.4);

    m_coordinator->transcriber.report(QStringLiteral("large:"));
    QVERIFY(!m_coordinator->isElapsedTickerRunning());
    QSignalSpy ticks(m_coordinator.get(), &Coordinator::largeModelElapsedSecondsChanged);
    m_coordinator->clock.advance(1s);
    QCOMPARE(ticks.count(), 0);
    QCOMPARE(m_coordinator->largeModelElapsedSeconds(), 0.47);
}

void tst_DictationSessionCoordinator::eachDictationTakesOnlyItsOwnRefinement()
{
    // Switched to the parallel mode during a live-only dictation: it ends as it began.
    m_coordinator->selectedASRModel = ASRModelPreference::appleSpeechFast;
    QVERIFY(waitForFuture(m_coordinator->startDictation()));
    m_coordinator->selectedASRModel = ASRModelPreference::parallelFast;
    m_coordinator->transcriber.finalText = QStringLiteral("live only");
    QVERIFY(waitForFuture(m_coordinator->stopDictation()));
    QCOMPARE(m_coordinator->statusText(), QStringLiteral("Done"));
    QCOMPARE(m_coordinator->finalText(), QStringLiteral("rewritten: Live only"));
    QVERIFY(!m_coordinator->isRefining());

    m_coordinator->largeModelEnabled = true;
    dictate(QStringLiteral("first dictation"));
    const Coordinator::DictationId first = m_coordinator->transcriber.dictation;
    m_coordinator->transcriber.report(QStringLiteral("base:first refined"));
    // the next one starts while the first still waits for its Large pass
    m_coordinator->largeModelEnabled = false;
    m_coordinator->polisher->hold = true;
    dictate(QStringLiteral("second dictation"));
    m_coordinator->transcriber.report(QStringLiteral("large:first large"), first);
    QCOMPARE(m_coordinator->largeModelTranscript(), QString());

    // a merge that ends after the next start is dropped too
    m_coordinator->transcriber.report(QStringLiteral("base:second refined"));
    QTRY_COMPARE(m_coordinator->polisher->held.size(), 1);
    QVERIFY(waitForFuture(m_coordinator->startDictation()));
    const auto [merge, merged] = m_coordinator->polisher->held.takeFirst();
    merge->addResult(merged);
    merge->finish();
    QTest::qWait(1);
    QCOMPARE(m_coordinator->finalText(), QString());
    QCOMPARE(m_coordinator->statusText(), QStringLiteral("Listening..."));

    m_coordinator->polisher->hold = false;
    m_coordinator->transcriber.finalText = QStringLiteral("third dictation");
    QVERIFY(waitForFuture(m_coordinator->stopDictation()));
    m_coordinator->transcriber.report(QStringLiteral("base:third refined"));
    QTRY_COMPARE(m_coordinator->finalText(), QStringLiteral("polished: third refined"));

    // A live-only one started before the last one's Base report: nothing refines for it.
    dictate(QStringLiteral("fourth dictation"));
    const Coordinator::DictationId fourth = m_coordinator->transcriber.dictation;
    QVERIFY(m_coordinator->isRefining());
    m_coordinator->selectedASRModel = ASRModelPreference::appleSpeechFast;
    QVERIFY(waitForFuture(m_coordinator->startDictation()));
    QVERIFY(!m_coordinator->isRefining());
    m_coordinator->transcriber.report(QStringLiteral("base:fourth refined"), fourth);
    QVERIFY(waitForFuture(m_coordinator->stopDictation()));
    QVERIFY(!m_coordinator->isRefining());
    QCOMPARE(m_coordinator->refinedTranscript(), QString());
}

void tst_DictationSessionCoordinator::stopFailureEndsTheStages()
{
    m_coordinator->largeModelEnabled = true;
    m_coordinator->transcriber.stopFailure = QStringLiteral("upload failed");
    dictate(QStringLiteral("x"));
    QCOMPARE(m_coordinator->statusText(), QStringLiteral("Error: upload failed"));
    QVERIFY(!m_coordinator->isRefining());
    QVERIFY(!m_coordinator->isLargeModelProcessing());
    QVERIFY(!m_coordinator->isProcessing());
    QVERIFY(!m_coordinator->isElapsedTickerRunning());
    QVERIFY(m_coordinator->injector.texts.isEmpty());
}

void tst_DictationSessionCoordinator::cloudDictationCountsTheMinutesTheServerDidNot()
{
    m_coordinator->selectedASRModel = ASRModelPreference::cloudflareWhisper;
    m_coordinator->transcriber.cloudMinutes = 0.5;
    dictate(QStringLiteral("cloud"));
    QCOMPARE(m_coordinator->usage.minutesUsedThisMonth(), 0.5);
}

void tst_DictationSessionCoordinator::cloudFailureDeliversTheLiveTextAndSaysWhy()
{
    m_coordinator->selectedASRModel = ASRModelPreference::cloudflareWhisper;
    m_coordinator->transcriber.cloudFailure = QStringLiteral("The cloud service did not answer within 31 seconds.");
    dictate(QStringLiteral("live words"));
    // the live text goes the whole way of a cloud text
    QCOMPARE(m_coordinator->injector.texts, QStringList{QStringLiteral("rewritten: Live words")});
    QCOMPARE(m_coordinator->statusText(), QStringLiteral("Cloud transcription failed, live text used: "
                                                         "The cloud service did not answer within 31 seconds."));
}

void tst_DictationSessionCoordinator::silentCloudCostsNeitherTheTextNorTheLength_data()
{
    QTest::addColumn<bool>("quit");
    QTest::newRow("the reply is given up") << false;
    QTest::newRow("quit while the reply is awaited") << true;
}

// Eight seconds of speech to a server that never answers: the live text is
// recorded, typed unless the application quits first, and the session lasts
// as long as its recording did, not as long as the wait.
void tst_DictationSessionCoordinator::silentCloudCostsNeitherTheTextNorTheLength()
{
    QFETCH(bool, quit);
    LoopbackHttpServer server;
    LoopbackHttpServer::Response silent;
    silent.headerDelayMs = 3'600'000;
    server.setResponse(QStringLiteral("/v1/transcribe"), silent);
    m_platform->fakeSettings().setValue(CloudApiSettings::tokenKey, QStringLiteral("token"));
    m_platform->fakeSettings().setValue(CloudApiSettings::baseUrlKey, server.url(QStringLiteral("/v1")).toString());
    RealTranscriberCoordinator coordinator(m_platform->speechRecognition());
    coordinator.selectedASRModel = ASRModelPreference::cloudflareWhisper;

    QVERIFY(waitForFuture(coordinator.startDictation()));
    QVERIFY(coordinator.isDictating());
    for (int second = 0; second < 8; ++second) {
        const AudioSamples speech(16000, 0.1f);
        coordinator.audioInput.deliver({{speech}, int(speech.size())});
        pass(coordinator, 1s);
    }
    m_platform->fakeSpeechRecognition().lastTask()->deliverPartial(QStringLiteral("live words"));
    pass(coordinator, 0ms);
    LogCapture log;
    const QFuture<void> stopped = coordinator.stopDictation();
    pass(coordinator, 1s); // the live recogniser's last words
    QTRY_COMPARE(server.requestCount(), 1);
    pass(coordinator, 30s);
    QVERIFY(coordinator.isProcessing());

    const auto recordedOnce = [&coordinator] {
        const QList<VoiceProfileStore::RecentSession> sessions = coordinator.store.recentSessions(10);
        QCOMPARE(sessions.size(), 1);
        QCOMPARE(sessions.first().rawTranscript, QStringLiteral("Live words"));
        QCOMPARE(sessions.first().duration, 8.0);
    };
    if (quit) {
        coordinator.recordUnfinishedDictation();
        recordedOnce(); // all the store gets before the application is gone
        if (QTest::currentTestFailed())
            return;
        QVERIFY(log.contains(QStringLiteral("[Coordinator] Quitting before the dictation was delivered: recorded "
                                            "its live text (2 words, 8.0s), not typed")));
    }
    pass(coordinator, 10s); // past the reply's deadline: 30 s and one per second of audio
    QVERIFY(waitForFuture(stopped));
    recordedOnce();
    QCOMPARE(coordinator.injector.texts, quit ? QStringList() : QStringList{QStringLiteral("rewritten: Live words")});
}

// Quitting while a later dictation still records keeps that one as it is: its
// own length from its own start, and no words of the dictation before it.
void tst_DictationSessionCoordinator::quitDuringALaterRecordingRecordsOnlyThatOne()
{
    RealTranscriberCoordinator coordinator(m_platform->speechRecognition());
    coordinator.selectedASRModel = ASRModelPreference::appleSpeechFast;
    coordinator.autoRewriteEnabled = false;
    QDateTime now = QDateTime::currentDateTime();
    coordinator.store.setClock([now]() mutable { return now = now.addSecs(60); });

    QVERIFY(waitForFuture(coordinator.startDictation()));
    pass(coordinator, 2s);
    m_platform->fakeSpeechRecognition().lastTask()->deliverPartial(QStringLiteral("first words"));
    pass(coordinator, 0ms);
    const QFuture<void> stopped = coordinator.stopDictation();
    pass(coordinator, 1s);
    QVERIFY(waitForFuture(stopped));

    pass(coordinator, 1s);
    QVERIFY(waitForFuture(coordinator.startDictation()));
    pass(coordinator, 3s); // nothing heard yet
    coordinator.recordUnfinishedDictation();
    const QList<VoiceProfileStore::RecentSession> sessions = coordinator.store.recentSessions(10);
    QCOMPARE(sessions.size(), 2);
    QCOMPARE(sessions.at(1).rawTranscript, QStringLiteral("First words"));
    QCOMPARE(sessions.at(0).rawTranscript, QString());
    QCOMPARE(sessions.at(0).duration, 3.0);
}

void tst_DictationSessionCoordinator::recordsTheTextAsItIsTyped_data()
{
    QTest::addColumn<bool>("quit");
    QTest::newRow("delivered") << false;
    QTest::newRow("quit before its text came") << true;
}

// A remote service's control characters are typed by no one: the history,
// which the clipboard is filled from, does not keep them either.
void tst_DictationSessionCoordinator::recordsTheTextAsItIsTyped()
{
    QFETCH(bool, quit);
    const QString remote = QStringLiteral("make a list\x1b[201~ rm -r \u202Efdp\u202C now");
    const QString cleaned = QStringLiteral("Make a list rm -r fdp now");
    FakeTranscriber &transcriber = m_coordinator->transcriber;
    transcriber.finalText = remote;
    transcriber.liveText = remote;
    transcriber.holdStop = quit;
    QVERIFY(waitForFuture(m_coordinator->startDictation()));
    const QFuture<void> stopped = m_coordinator->stopDictation();
    if (quit) {
        QTRY_VERIFY(transcriber.pendingStop);
        m_coordinator->recordUnfinishedDictation();
        transcriber.pendingStop->addResult(remote);
        transcriber.pendingStop->finish();
    }
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(m_coordinator->injector.texts, quit ? QStringList() : QStringList{cleaned});
    const QList<VoiceProfileStore::RecentSession> sessions = m_coordinator->store.recentSessions(10);
    QCOMPARE(sessions.size(), 1);
    QCOMPARE(sessions.first().rawTranscript, cleaned);
}

void tst_DictationSessionCoordinator::reactivatesTheTargetBeforeTyping()
{
    const RunningApplication editor{4242, QStringLiteral("Editor"), 7, QStringLiteral("Editor")};
    m_coordinator->workspace.frontmost = editor;
    m_coordinator->workspace.running = {editor};
    m_coordinator->postProcessingEnabled = false;
    m_coordinator->transcriber.finalText = QStringLiteral("hello");
    QVERIFY(waitForFuture(m_coordinator->startDictation()));
    m_coordinator->workspace.frontmost.reset(); // the user clicked elsewhere
    const QFuture<void> stopped = m_coordinator->stopDictation();
    QTRY_COMPARE(m_coordinator->workspace.activated, QList<RunningApplication>{editor});
    // a refinement that reports while the stop still types waits for it
    m_coordinator->transcriber.report(QStringLiteral("base:hello refined"));
    QTest::qWait(20);
    QVERIFY(m_coordinator->injector.texts.isEmpty()); // not before the pause
    m_coordinator->clock.advance(Coordinator::reactivationPause);
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(m_coordinator->injector.texts, QStringList{QStringLiteral("Hello")});
    QCOMPARE(m_coordinator->lastTranscribedText(), QStringLiteral("hello refined"));

    // Tavrune in front at the start keeps the earlier target; once that has
    // quit, nothing is brought to the front.
    RunningApplication tavrune;
    tavrune.processIdentifier = QCoreApplication::applicationPid();
    m_coordinator->workspace.frontmost = tavrune;
    QVERIFY(waitForFuture(m_coordinator->startDictation()));
    QCOMPARE(m_coordinator->targetAppPID(), editor.processIdentifier);
    m_coordinator->workspace.running.clear();
    QVERIFY(waitForFuture(m_coordinator->stopDictation()));
    QCOMPARE(m_coordinator->workspace.activated.size(), 1);
    QCOMPARE(m_coordinator->injector.texts.size(), 2);
}

void tst_DictationSessionCoordinator::lockedProfileCostsOnlyThatDictationsLearning()
{
    const QString profile = m_coordinator->directory.filePath(QStringLiteral("profile.sqlite"));
    dictate(QStringLiteral("Kept before"));
    QCOMPARE(m_coordinator->store.totalWords(), 2);

    LogCapture log;
    const QString notSaved = QStringLiteral("[VoiceProfileStore] Could not save");
    SqliteWriteLock otherProgram(profile);
    QVERIFY(otherProgram.isHeld());
    dictate(QStringLiteral("Typed while locked"));
    // typed before the store gave up waiting for the lock: nobody waited for it
    QCOMPARE(m_coordinator->injector.texts.last(), QStringLiteral("Typed while locked"));
    QVERIFY2(log.linesStartingWith(notSaved).isEmpty(), qPrintable(log.linesStartingWith(notSaved).join('\n')));
    QTRY_COMPARE(log.linesStartingWith(notSaved).size(), 1);
    QVERIFY(log.contains(QStringLiteral("the dictation's learning")));
    QVERIFY(log.contains(QStringLiteral("database is locked")));
    QCOMPARE(m_coordinator->store.totalWords(), 2); // the main thread still reads

    otherProgram.release();
    dictate(QStringLiteral("Kept after"));
    QCOMPARE(m_coordinator->store.totalWords(), 4);
    QCOMPARE(sqliteRows(profile, "SELECT raw_transcript FROM session_log ORDER BY id"),
             (QStringList{"Kept before", "Kept after"}));
    QCOMPARE(sqliteRows(profile, "SELECT COUNT(*) FROM vocabulary WHERE word IN ('typed', 'locked')"),
             QStringList{"0"});
}

QTEST_GUILESS_MAIN(tst_DictationSessionCoordinator)
#include "tst_DictationSessionCoordinator.moc"
