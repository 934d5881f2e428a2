#include "support/FakeMonotonicClock.h"
#include "support/FakeWhisperEngineAdapter.h"
#include "support/FutureWait.h"
#include "support/LogCapture.h"
#include "support/TestError.h"
#include "support/SynthesizedSpeech.h"

#include "models/ModelDescriptor.h"
#include "models/ModelManager.h"
#include "pipeline/HybridRealtimeTranscriptionService.h"
#include "pipeline/HybridTranscriptionError.h"
#include "platform/fake/FakePlatform.h"
#include "platform/linux/PocketsphinxSpeechRecognition.h"
#include "platform/linux/WhisperSpeechRecognition.h"
#include "support/WhisperModelWriter.h"
#include "support/FutureWatch.h"

#include <QtTest>

using namespace std::chrono_literals;

namespace {
// Stands in for the cloud service: keeps what it is fed, answers as told.
class FakeCloudService : public RealtimeTranscriptionService {
public:
    struct Script {
        AudioSamples received;
        QString finalText;
        bool failStop = false;
    };
    explicit FakeCloudService(std::shared_ptr<Script> script)
        : m_script(std::move(script))
    {
    }
    QFuture<void> start(LanguageOption) override
    {
        m_script->received.clear();
        return QtFuture::makeReadyFuture();
    }
    QFuture<void> appendAudioFrames(const AudioSamples &frames) override
    {
        m_script->received.append(frames);
        return QtFuture::makeReadyFuture();
    }
    QFuture<QString> stopAndFinalize() override
    {
        if (m_script->failStop)
            return QtFuture::makeExceptionalFuture<QString>(TestError(QStringLiteral("cloud refused")));
        return QtFuture::makeReadyFuture(m_script->finalText);
    }
    QString activeASRModelName() const override { return QStringLiteral("Cloud test model"); }

private:
    std::shared_ptr<Script> m_script;
};

// The fakes, except that speech is recognised for real: by Whisper when a
// model is given, else by pocketsphinx.
class PlatformWithLiveSpeech : public FakePlatform {
public:
    explicit PlatformWithLiveSpeech(const QString &whisperModel)
        : m_whisper(m_pocketsphinx, [whisperModel] { return whisperModel; })
    {
    }
    SpeechRecognition &speechRecognition() override { return m_whisper; }

private:
    PocketsphinxSpeechRecognition m_pocketsphinx;
    WhisperSpeechRecognition m_whisper;
};

void pump()
{
    for (int i = 0; i < 10; ++i)
        QCoreApplication::sendPostedEvents();
}
} // namespace

class tst_HybridRealtimeTranscriptionService : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void routesEachModeToItsEngine_data();
    void routesEachModeToItsEngine();
    void liveRecognitionStartFailures();
    void windowSlideFreezesOnlyARealSlide_data();
    void windowSlideFreezesOnlyARealSlide();
    void liveTextNeverShrinksAndStaleTasksAreIgnored();
    void finishedSegmentsAreKeptAcrossRestarts();
    void rapidRestartIsPostponedAndHeldBatchesAreFed();
    void failedRestartsBackOffAndGiveUp();
    void stopEndsARestartLoop();
    void bestTextChoice_data();
    void bestTextChoice();
    void stopWaitsForTheRecognizerAtMostEightTenths();
    void refinementReportsOncePerStage_data();
    void refinementReportsOncePerStage();
    void whisperUsesRunOneAfterAnotherInArrivalOrder();
    void whisperModeGivesWhisperTextAndNeverALanguageName();
    void cloudModeStopUsesTheCloudText();
    void sampleHistoryKeepsTheNewestTenMillion();
    void recognisesRealSpeechLive_data();
    void recognisesRealSpeechLive();

private:
    void startIn(ASRModelPreference mode, LanguageOption language = LanguageOption::english);
    QString stop();
    void feed(const AudioSamples &samples) { QVERIFY(waitForFuture(m_hybrid->appendAudioFrames(samples))); }
    void tick(MonotonicClock::Duration by)
    {
        m_clock.advance(by);
        pump();
    }
    // The task ends with a final result and its restart runs 0.2 s later.
    void finishTask(const QString &final)
    {
        task()->deliverFinal(final);
        pump();
        tick(200ms);
    }
    void placeModel(const ModelDescriptor &model);
    void placeEncoder();
    std::shared_ptr<FakeRecognitionTask> task() const { return m_platform->fakeSpeechRecognition().lastTask(); }
    int taskCount() const { return int(m_platform->fakeSpeechRecognition().tasks().size()); }
    int restartAttempts(const LogCapture &log) const
    {
        return int(log.linesStartingWith(QStringLiteral("[AppleSpeech] Restart attempt")).size());
    }

    FakePlatform *m_platform = nullptr;
    FakeMonotonicClock m_clock;
    std::unique_ptr<ModelManager> m_manager;
    std::shared_ptr<FakeWhisperEngineAdapter::Script> m_engine;
    std::shared_ptr<FakeCloudService::Script> m_cloud;
    std::unique_ptr<HybridRealtimeTranscriptionService> m_hybrid;
    QStringList m_partials;
    QStringList m_reports;
};

void tst_HybridRealtimeTranscriptionService::init()
{
    m_platform = &FakePlatform::installNew();
    m_manager = std::make_unique<ModelManager>();
    m_engine = std::make_shared<FakeWhisperEngineAdapter::Script>();
    m_cloud = std::make_shared<FakeCloudService::Script>();
    m_partials.clear();
    m_reports.clear();
    m_hybrid = std::make_unique<HybridRealtimeTranscriptionService>(
        *m_manager, std::make_unique<FakeWhisperEngineAdapter>(m_engine), std::make_unique<FakeCloudService>(m_cloud),
        m_clock);
    m_hybrid->setOnPartialText([this](const QString &t) { m_partials.append(t); });
    m_hybrid->setOnRefinedText([this](const QString &t) { m_reports.append(QStringLiteral("base:") + t); });
    m_hybrid->setOnBaseModelFailed([this] { m_reports.append(QStringLiteral("baseFailed")); });
    m_hybrid->setOnLargeModelText([this](const QString &t) { m_reports.append(QStringLiteral("large:") + t); });
    m_hybrid->setOnLargeModelFailed([this] { m_reports.append(QStringLiteral("largeFailed")); });
}

void tst_HybridRealtimeTranscriptionService::cleanup()
{
    m_hybrid.reset();
    m_manager.reset();
}

void tst_HybridRealtimeTranscriptionService::startIn(ASRModelPreference mode, LanguageOption language)
{
    m_hybrid->clearLiveText();
    m_hybrid->setPreferredASRModel(mode);
    QFuture<void> started = m_hybrid->start(language);
    QVERIFY(waitForFuture(started));
    QVERIFY2(!Futures::failureOf(started), qPrintable(describeException(Futures::failureOf(started))));
}

QString tst_HybridRealtimeTranscriptionService::stop()
{
    QFuture<QString> stopped = m_hybrid->stopAndFinalize();
    for (int i = 0; i < 20 && !stopped.isFinished(); ++i) {
        pump();
        tick(100ms);
    }
    if (!waitForFuture(stopped))
        return QStringLiteral("<stop never finished>");
    return Futures::failureOf(stopped) ? QStringLiteral("<stop failed>") : stopped.result();
}

void tst_HybridRealtimeTranscriptionService::placeModel(const ModelDescriptor &model)
{
    QDir().mkpath(m_manager->modelsDirectory());
    QFile file(QDir(m_manager->modelsDirectory()).filePath(model.id));
    QVERIFY(file.open(QIODevice::WriteOnly));
}

void tst_HybridRealtimeTranscriptionService::placeEncoder()
{
    const QString container = *m_platform->paths().appGroupContainer();
    QVERIFY(QDir().mkpath(container + QStringLiteral("/OfflineModels/ggml-large-v3-encoder.mlmodelc")));
}

void tst_HybridRealtimeTranscriptionService::routesEachModeToItsEngine_data()
{
    QTest::addColumn<ASRModelPreference>("mode");
    QTest::addColumn<QString>("label");
    QTest::addColumn<ASRModelPreference>("activeMode");
    QTest::addColumn<QString>("engines"); // which of live, whisper and cloud get the samples

    using P = ASRModelPreference;
    const QString apple = QStringLiteral("Apple Speech (Live)");
    const QString cloud = QStringLiteral("Cloud test model");
    QTest::newRow("parallel") << P::parallelFast << apple + " + Whisper Base" << P::parallelFast << "live";
    QTest::newRow("auto") << P::auto_ << apple << P::appleSpeechFast << "live";
    QTest::newRow("apple") << P::appleSpeechFast << apple << P::appleSpeechFast << "live";
    QTest::newRow("whisper base") << P::whisperBase << "Whisper Base (quick test)" << P::whisperBase << "whisper";
    QTest::newRow("whisper large") << P::whisperLargeV3 << "Whisper Large v3 (Q5_0)" << P::whisperLargeV3 << "whisper";
    QTest::newRow("cloud") << P::cloudflareWhisper << cloud << P::cloudflareWhisper << "live cloud";
    QTest::newRow("whisper mode goes to the cloud") << P::whisperMode << cloud << P::cloudflareWhisper << "live cloud";
}

void tst_HybridRealtimeTranscriptionService::routesEachModeToItsEngine()
{
    QFETCH(ASRModelPreference, mode);
    QFETCH(QString, label);
    QFETCH(ASRModelPreference, activeMode);
    QFETCH(QString, engines);
    const bool live = engines.contains(QLatin1String("live"));
    placeModel(ModelDescriptor::whisperBase());
    placeModel(ModelDescriptor::whisperLargeV3());

    startIn(mode);
    QCOMPARE(m_hybrid->activeASRModelName(), label);
    QCOMPARE(m_hybrid->activeMode(), activeMode);
    QCOMPARE(taskCount(), live ? 1 : 0);
    if (live) {
        QVERIFY(task()->request()->shouldReportPartialResults());
        QVERIFY(task()->request()->requiresOnDeviceRecognition());
    }

    const AudioSamples batch(1024, 0.25f);
    feed(batch);
    feed({});
    pump();
    if (live)
        QCOMPARE(task()->receivedSamples(), batch);
    QCOMPARE(m_engine->samplesIngested, engines.contains(QLatin1String("whisper")) ? 1024 : 0);
    QCOMPARE(m_cloud->received.size(), engines.contains(QLatin1String("cloud")) ? 1024 : 0);
}

void tst_HybridRealtimeTranscriptionService::liveRecognitionStartFailures()
{
    const auto startFailure = [this](ASRModelPreference mode, LanguageOption language) {
        m_hybrid->setPreferredASRModel(mode);
        QFuture<void> started = m_hybrid->start(language);
        return waitForFuture(started) ? failureOf<HybridTranscriptionError>(started) : std::nullopt;
    };
    FakeSpeechRecognition &recognition = m_platform->fakeSpeechRecognition();
    recognition.setAuthorizationStatus(SpeechAuthorizationStatus::denied);
    auto error = startFailure(ASRModelPreference::parallelFast, LanguageOption::english);
    QVERIFY(error);
    QCOMPARE(error->description(), QStringLiteral("Speech recognition permission denied."));

    // The cloud modes go on without live text.
    startIn(ASRModelPreference::cloudflareWhisper);
    QCOMPARE(taskCount(), 0);
    feed(AudioSamples(512, 0.1f));
    QCOMPARE(m_cloud->received.size(), 512);

    recognition.setAuthorizationStatus(SpeechAuthorizationStatus::authorized);
    error = startFailure(ASRModelPreference::auto_, LanguageOption::japanese);
    QVERIFY(error);
    QCOMPARE(error->kind(), HybridTranscriptionError::Kind::speechRecognizerUnavailable);
    QCOMPARE(error->description(), QStringLiteral("Apple Speech recognizer is unavailable for this language."));

    // A Whisper mode without its model fails with the Whisper service's error.
    m_hybrid->setPreferredASRModel(ASRModelPreference::whisperBase);
    QFuture<void> whisper = m_hybrid->start(LanguageOption::english);
    QVERIFY(waitForFuture(whisper));
    QCOMPARE(describeException(Futures::failureOf(whisper)),
             QStringLiteral("No Whisper ASR model is installed. Please download Whisper Base or Whisper Large first."));
}

void tst_HybridRealtimeTranscriptionService::windowSlideFreezesOnlyARealSlide_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::addColumn<bool>("freezes");

    QTest::newRow("150 to 44 slides") << 150 << 44 << true;
    QTest::newRow("150 to 45 is not under 30%") << 150 << 45 << false;
    QTest::newRow("100 to 10 is too short before") << 100 << 10 << false;
    QTest::newRow("101 to 6 slides") << 101 << 6 << true;
    QTest::newRow("150 to 5 is too short after") << 150 << 5 << false;
}

void tst_HybridRealtimeTranscriptionService::windowSlideFreezesOnlyARealSlide()
{
    QFETCH(int, before);
    QFETCH(int, after);
    QFETCH(bool, freezes);
    startIn(ASRModelPreference::parallelFast);
    LogCapture log;
    // Counted in user-perceived characters: each "é" here is two code points.
    const QString longText(before, u'x');
    const QString shortText = QString(after, u'e').replace(u'e', QStringLiteral("e\u0301"));
    task()->deliverPartial(longText);
    task()->deliverPartial(QStringLiteral("  ") + shortText + QStringLiteral("\n"));
    pump();

    if (freezes) {
        QCOMPARE(m_hybrid->latestPartialText(), longText + u' ' + shortText);
        QVERIFY(log.contains(QStringLiteral("[BRV-ASR] Window slide: %1 → %2 chars, freezing").arg(before).arg(after)));
    } else {
        QCOMPARE(m_hybrid->latestPartialText(), longText);
        QVERIFY(log.linesStartingWith(QStringLiteral("[BRV-ASR]")).isEmpty());
    }
    QCOMPARE(m_partials.last(), m_hybrid->latestPartialText());
    QCOMPARE(stop(), m_hybrid->latestPartialText());
}

void tst_HybridRealtimeTranscriptionService::liveTextNeverShrinksAndStaleTasksAreIgnored()
{
    startIn(ASRModelPreference::appleSpeechFast);
    task()->deliverPartial(QStringLiteral("hello there"));
    task()->deliverPartial(QStringLiteral("hello"));
    pump();
    QCOMPARE(m_partials, (QStringList { QStringLiteral("hello there"), QStringLiteral("hello there") }));

    const auto first = task();
    finishTask(QStringLiteral("hello there friend"));
    QCOMPARE(taskCount(), 2);
    QVERIFY(first->isCancelled());

    // A late call of the first task after the restart changes nothing.
    const QString before = m_hybrid->latestPartialText();
    const int partials = int(m_partials.size());
    first->deliverPartial(QStringLiteral("something much longer than anything said so far"));
    first->deliverError(QStringLiteral("late failure"));
    pump();
    QCOMPARE(m_hybrid->latestPartialText(), before);
    QCOMPARE(m_partials.size(), partials);
    QCOMPARE(taskCount(), 2);
}

void tst_HybridRealtimeTranscriptionService::finishedSegmentsAreKeptAcrossRestarts()
{
    startIn(ASRModelPreference::parallelFast);
    task()->deliverPartial(QStringLiteral("first part"));
    finishTask(QStringLiteral("first part ends"));
    QCOMPARE(taskCount(), 2);

    // An error ends a task like a final result does.
    m_clock.advance(2s);
    task()->deliverError(QStringLiteral("The recogniser gave up."));
    pump();
    tick(200ms);
    QCOMPARE(taskCount(), 3);

    m_clock.advance(2s);
    finishTask(QStringLiteral("second"));
    task()->deliverPartial(QStringLiteral("third"));
    pump();
    QCOMPARE(m_hybrid->latestPartialText(), QStringLiteral("first part ends second third"));
    QCOMPARE(stop(), QStringLiteral("first part ends second third"));
}

void tst_HybridRealtimeTranscriptionService::rapidRestartIsPostponedAndHeldBatchesAreFed()
{
    startIn(ASRModelPreference::parallelFast);
    LogCapture log;
    finishTask(QStringLiteral("one"));
    QCOMPARE(taskCount(), 2);

    // 0.5 s after the last restart: the restart waits for the throttle.
    m_clock.advance(300ms);
    task()->deliverFinal(QStringLiteral("two"));
    pump();
    QVERIFY(log.contains(QStringLiteral("[AppleSpeech] Throttling rapid restart (last was 0.50s ago)")));
    AudioSamples held;
    for (int i = 0; i < 3; ++i) {
        const AudioSamples batch(1024, float(i + 1) / 10);
        held.append(batch);
        feed(batch);
    }
    tick(499ms);
    QCOMPARE(taskCount(), 2);
    tick(1ms); // the throttle allows it now
    tick(200ms);
    QCOMPARE(taskCount(), 3);
    QVERIFY(log.contains(QStringLiteral("[AppleSpeech] Fed 3 held frame batches to the new request")));
    QCOMPARE(task()->receivedSamples(), held);

    // Batches after the restart go straight to the new request.
    feed(AudioSamples(10, 0.9f));
    QCOMPARE(task()->receivedSamples().size(), held.size() + 10);
    QCOMPARE(stop(), QStringLiteral("one two"));
}

void tst_HybridRealtimeTranscriptionService::failedRestartsBackOffAndGiveUp()
{
    startIn(ASRModelPreference::parallelFast);
    m_platform->fakeSpeechRecognition().setAvailable(false);
    LogCapture log;
    task()->deliverFinal(QStringLiteral("kept"));
    pump();

    // Attempts at 0.2 s, then after 0.5, 1, 2, 4, 5, 5 and 5 s.
    const QList<MonotonicClock::Duration> gaps { 200ms, 500ms, 1s, 2s, 4s, 5s, 5s, 5s };
    for (int i = 0; i < gaps.size(); ++i) {
        tick(gaps[i] - 1ms);
        QCOMPARE(restartAttempts(log), i);
        tick(1ms);
        QVERIFY(log.contains(QStringLiteral("[AppleSpeech] Restart attempt %1 failed: Apple Speech recognizer is "
                                            "unavailable for this language.")
                                 .arg(i + 1)));
    }
    QVERIFY(log.contains(QStringLiteral("[AppleSpeech] Giving up live recognition after 8 failed restarts")));
    QCOMPARE(m_clock.pendingCount(), 0);

    // Nothing is lost for the stop: the text and the samples are still there.
    feed(AudioSamples(100, 0.1f));
    QCOMPARE(stop(), QStringLiteral("kept"));
    QCOMPARE(taskCount(), 1);
}

void tst_HybridRealtimeTranscriptionService::stopEndsARestartLoop()
{
    startIn(ASRModelPreference::appleSpeechFast);
    FakeSpeechRecognition &recognition = m_platform->fakeSpeechRecognition();
    recognition.setAvailable(false);
    LogCapture log;
    finishTask(QStringLiteral("words"));
    QCOMPARE(restartAttempts(log), 1);

    recognition.setAvailable(true);
    QCOMPARE(stop(), QStringLiteral("words"));
    tick(10s);
    QCOMPARE(restartAttempts(log), 1);
    QCOMPARE(taskCount(), 1); // no recogniser left running after the dictation
}

void tst_HybridRealtimeTranscriptionService::bestTextChoice_data()
{
    QTest::addColumn<QString>("pre");
    QTest::addColumn<QString>("post");
    QTest::addColumn<QString>("latest");
    QTest::addColumn<QString>("best");

    QTest::newRow("latest longest") << QString(11, u'a') << QString(5, u'a') << QString(17, u'l') << QString(17, u'l');
    QTest::newRow("equal: first wins") << QString(8, u'p') << "" << QString(8, u'l') << QString(8, u'p');
    QTest::newRow("post longest") << QString(3, u'a') << QString(9, u'o') << QString(4, u'a') << QString(9, u'o');
}

void tst_HybridRealtimeTranscriptionService::bestTextChoice()
{
    QFETCH(QString, pre);
    QFETCH(QString, post);
    QFETCH(QString, latest);
    QFETCH(QString, best);
    QCOMPARE(HybridRealtimeTranscriptionService::chooseBestText(pre, post, latest), best);
}

void tst_HybridRealtimeTranscriptionService::stopWaitsForTheRecognizerAtMostEightTenths()
{
    startIn(ASRModelPreference::appleSpeechFast);
    const auto first = task();
    QFuture<QString> quick = m_hybrid->stopAndFinalize();
    QVERIFY(first->request()->isAudioEnded());
    first->setState(RecognitionTaskState::completed);
    tick(100ms);
    QVERIFY(quick.isFinished());
    QVERIFY(first->isCancelled());

    // A final result that arrives while the stop waits brings the last words.
    startIn(ASRModelPreference::appleSpeechFast);
    task()->deliverPartial(QStringLiteral("hello"));
    pump();
    QFuture<QString> withFinal = m_hybrid->stopAndFinalize();
    task()->deliverPartial(QStringLiteral("hello there and more")); // late partials still do not
    task()->deliverFinal(QStringLiteral("hello there"));
    task()->setState(RecognitionTaskState::completed);
    tick(100ms);
    QVERIFY(withFinal.isFinished());
    QCOMPARE(withFinal.result(), QStringLiteral("hello there"));
    QCOMPARE(taskCount(), 2); // and no restart

    startIn(ASRModelPreference::appleSpeechFast);
    QFuture<QString> slow = m_hybrid->stopAndFinalize();
    tick(700ms);
    QVERIFY(!slow.isFinished());
    tick(100ms);
    QVERIFY(slow.isFinished());
    QCOMPARE(slow.result(), QString());
}

void tst_HybridRealtimeTranscriptionService::refinementReportsOncePerStage_data()
{
    QTest::addColumn<bool>("samples");
    QTest::addColumn<bool>("base");  // Base model installed
    QTest::addColumn<bool>("large"); // Large model installed
    QTest::addColumn<bool>("encoder");
    QTest::addColumn<bool>("largeEnabled");
    QTest::addColumn<QStringList>("finals"); // what the engine's finalize passes return, in order
    QTest::addColumn<QStringList>("reports");

    const QStringList words { "base words", "large words" };
    const QStringList bothFailed { "baseFailed", "largeFailed" };
    const QStringList baseOnly { "base:base words" };
    const QStringList largeFailed { "base:base words", "largeFailed" };
    QTest::newRow("no samples") << false << true << true << true << true << words << bothFailed;
    QTest::newRow("no base model") << true << false << true << true << true << words << bothFailed;
    QTest::newRow("base only") << true << true << true << true << false << words << baseOnly;
    QTest::newRow("silence") << true << true << false << false << false << QStringList { "" }
                             << QStringList { "baseFailed" };
    QTest::newRow("no encoder") << true << true << true << false << true << words << largeFailed;
    QTest::newRow("no large model") << true << true << false << true << true << words << largeFailed;
    QTest::newRow("both") << true << true << true << true << true << words
                          << QStringList { "base:base words", "large:large words" };
    QTest::newRow("large gives nothing") << true << true << true << true << true << QStringList { "base words", "" }
                                         << largeFailed;
}

void tst_HybridRealtimeTranscriptionService::refinementReportsOncePerStage()
{
    QFETCH(bool, samples);
    QFETCH(bool, base);
    QFETCH(bool, large);
    QFETCH(bool, encoder);
    QFETCH(bool, largeEnabled);
    QFETCH(QStringList, finals);
    QFETCH(QStringList, reports);
    if (base)
        placeModel(ModelDescriptor::whisperBase());
    if (large)
        placeModel(ModelDescriptor::whisperLargeV3());
    if (encoder)
        placeEncoder();
    m_engine->finalizeResults.assign(finals.cbegin(), finals.cend());

    m_hybrid->setLargeModelEnabled(largeEnabled);
    startIn(ASRModelPreference::parallelFast);
    if (samples)
        feed(AudioSamples(16000, 0.1f));
    task()->deliverPartial(QStringLiteral("live words"));
    pump();
    QCOMPARE(stop(), QStringLiteral("live words"));
    // The setting may change for the next dictation; this refinement keeps its own.
    m_hybrid->setLargeModelEnabled(!largeEnabled);
    QTRY_COMPARE(m_reports, reports);
    QTest::qWait(20);
    QCOMPARE(m_reports, reports);
    // Refinement partials are not live text of any dictation.
    QCOMPARE(m_partials, QStringList { QStringLiteral("live words") });
    // A failed Base stage never goes on to the Large pass.
    if (reports.first() == QLatin1String("baseFailed"))
        QVERIFY(!m_engine->journal.contains(QStringLiteral("load ggml-large-v3-q5_0.bin")));
}

void tst_HybridRealtimeTranscriptionService::whisperUsesRunOneAfterAnotherInArrivalOrder()
{
    placeModel(ModelDescriptor::whisperBase());
    placeModel(ModelDescriptor::whisperLargeV3());
    placeEncoder();
    m_engine->holdFinalize = true;
    m_engine->ingestResults = { QStringLiteral("refinement partial") };
    m_hybrid->setLargeModelEnabled(true);
    startIn(ASRModelPreference::parallelFast);
    feed(AudioSamples(16000, 0.1f));
    QCOMPARE(stop(), QString());
    QTRY_COMPARE(m_engine->heldFinalizes.size(), 1); // the Base pass is decoding

    // A Whisper-mode dictation starts meanwhile: it waits for the whole refinement.
    m_hybrid->clearLiveText();
    m_hybrid->setPreferredASRModel(ASRModelPreference::whisperBase);
    QFuture<void> started = m_hybrid->start(LanguageOption::english);
    QTest::qWait(20);
    QVERIFY(!started.isFinished());
    finishHeld(m_engine->heldFinalizes[0], QStringLiteral("base words"));
    QTRY_COMPARE(m_engine->heldFinalizes.size(), 2); // the Large pass
    QVERIFY(!started.isFinished());
    finishHeld(m_engine->heldFinalizes[1], QStringLiteral("large words"));
    QVERIFY(waitForFuture(started));
    QVERIFY(!Futures::failureOf(started));

    const QStringList expected { "load ggml-base.bin",          "ingest 16000", "finalize",
                                 "load ggml-large-v3-q5_0.bin", "ingest 16000", "finalize",
                                 "load ggml-base.bin" };
    QCOMPARE(m_engine->journal, expected);
    QCOMPARE(m_reports, (QStringList { "base:base words", "large:large words" }));
    QVERIFY(m_partials.isEmpty());

    // The dictation holds the engine until its stop; a refinement waits for it.
    m_engine->holdFinalize = false;
    m_engine->finalizeResults = { QStringLiteral("dictated words") };
    QCOMPARE(stop(), QStringLiteral("dictated words"));
}

void tst_HybridRealtimeTranscriptionService::whisperModeGivesWhisperTextAndNeverALanguageName()
{
    placeModel(ModelDescriptor::whisperBase());
    m_engine->ingestResults = { QStringLiteral("live whisper") };
    startIn(ASRModelPreference::whisperBase);
    feed(AudioSamples(1024, 0.1f));
    QTRY_COMPARE(m_partials, QStringList { QStringLiteral("live whisper") });
    m_engine->finalizeResults = { QStringLiteral("final whisper") };
    QCOMPARE(stop(), QStringLiteral("final whisper"));

    // Nothing heard: no text at all, not "[English]".
    startIn(ASRModelPreference::whisperBase);
    QCOMPARE(stop(), QString());
}

void tst_HybridRealtimeTranscriptionService::cloudModeStopUsesTheCloudText()
{
    // The cloud's text wins; without one the live text stands.
    for (const QString &cloudText : { QStringLiteral("cloud text"), QString() }) {
        startIn(ASRModelPreference::cloudflareWhisper);
        task()->deliverPartial(QStringLiteral("live guess"));
        pump();
        m_cloud->finalText = cloudText;
        QCOMPARE(stop(), cloudText.isEmpty() ? QStringLiteral("live guess") : cloudText);
    }

    startIn(ASRModelPreference::cloudflareWhisper);
    m_cloud->failStop = true;
    QFuture<QString> stopped = m_hybrid->stopAndFinalize();
    tick(1s);
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(describeException(Futures::failureOf(stopped)), QStringLiteral("cloud refused"));
    QVERIFY(m_reports.isEmpty());
}

void tst_HybridRealtimeTranscriptionService::sampleHistoryKeepsTheNewestTenMillion()
{
    placeModel(ModelDescriptor::whisperBase());
    startIn(ASRModelPreference::parallelFast);
    feed(AudioSamples(1, 1.0f));
    const AudioSamples block(1'000'000, 0.0f);
    for (int i = 0; i < 10; ++i)
        feed(block);
    m_engine->finalizeResults = { QStringLiteral("words") };
    stop();
    QTRY_COMPARE(m_reports, QStringList { QStringLiteral("base:words") });
    QCOMPARE(m_engine->lastIngested.size(), HybridRealtimeTranscriptionService::maxSessionSamples);
    QCOMPARE(m_engine->lastIngested.count(1.0f), 0);

    // The next dictation starts with an empty history.
    startIn(ASRModelPreference::parallelFast);
    feed(AudioSamples(100, 0.5f));
    m_engine->finalizeResults = { QStringLiteral("again") };
    stop();
    QTRY_COMPARE(m_engine->lastIngested.size(), 100);
}

void tst_HybridRealtimeTranscriptionService::recognisesRealSpeechLive_data()
{
    QTest::addColumn<bool>("whisper"); // else pocketsphinx; Whisper's random weights say no real words
    QTest::newRow("pocketsphinx") << false;
    QTest::newRow("whisper") << true;
}

void tst_HybridRealtimeTranscriptionService::recognisesRealSpeechLive()
{
    QFETCH(bool, whisper);
    QTemporaryDir models;
    const QString model = whisper ? models.filePath(QStringLiteral("ggml-base.bin")) : QString();
    if (whisper)
        QCOMPARE(WhisperModelWriter::writeTinyModel(model), QString());
    Platform::install(std::make_unique<PlatformWithLiveSpeech>(model));
    ModelManager manager;
    HybridRealtimeTranscriptionService hybrid(manager, std::make_unique<FakeWhisperEngineAdapter>(m_engine),
                                              std::make_unique<FakeCloudService>(m_cloud), MonotonicClock::system());
    QStringList partials;
    hybrid.setOnPartialText([&](const QString &t) { partials.append(t); });
    hybrid.setPreferredASRModel(ASRModelPreference::appleSpeechFast);
    QFuture<void> started = hybrid.start(LanguageOption::english);
    QVERIFY(waitForFuture(started));
    QVERIFY(!Futures::failureOf(started));

    const QList<float> speech = SynthesizedSpeech::samples(QStringLiteral("we are going to the park"));
    QVERIFY(!speech.isEmpty());
    for (const auto &batch : SynthesizedSpeech::batches(speech))
        hybrid.appendAudioFrames(batch);
    QTRY_VERIFY_WITH_TIMEOUT(whisper ? !hybrid.latestPartialText().isEmpty()
                                     : hybrid.latestPartialText().contains(QStringLiteral("going"))
                                         || hybrid.latestPartialText().contains(QStringLiteral("park")),
                             20000);
    // the live text is updated on the recogniser's thread; the callback arrives by the event loop
    QTRY_VERIFY_WITH_TIMEOUT(!partials.isEmpty(), 20000);
    QFuture<QString> stopped = hybrid.stopAndFinalize();
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(stopped.result(), hybrid.latestPartialText());
}

QTEST_GUILESS_MAIN(tst_HybridRealtimeTranscriptionService)
#include "tst_HybridRealtimeTranscriptionService.moc"
