#include "support/FakeMonotonicClock.h"
#include "support/FakeWhisperEngineAdapter.h"
#include "support/FutureWait.h"
#include "support/LogCapture.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestError.h"

#include "models/ModelDescriptor.h"
#include "models/ModelManager.h"
#include "pipeline/CloudApiSettings.h"
#include "pipeline/CloudflareTranscriptionService.h"
#include "pipeline/HybridRealtimeTranscriptionService.h"
#include "pipeline/HybridTranscriptionError.h"
#include "pipeline/TranscriptionServiceError.h"
#include "pipeline/WhisperOfflineTranscriptionService.h"
#include "platform/fake/FakePlatform.h"

#include <QtTest>

#include <numeric>

using namespace std::chrono_literals;

namespace {
// Stands in for the cloud service: keeps what it is fed, answers as told.
class FakeCloudService : public CloudflareTranscriptionService {
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

private:
    std::shared_ptr<Script> m_script;
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
    void startFailures();
    void windowSlideFreezesOnlyARealSlide_data();
    void windowSlideFreezesOnlyARealSlide();
    void restartsKeepTheLiveTextWhole();
    void anErrorFromTheRestartedTaskRestartsItAgain();
    void rapidRestartIsPostponedAndHeldBatchesAreFed();
    void failedRestartsBackOffAndGiveUp();
    void stopEndsARestartLoop();
    void bestTextChoice_data();
    void bestTextChoice();
    void stopWaitsForTheRecognizerAtMostEightTenths();
    void refinementReportsOncePerStage_data();
    void refinementReportsOncePerStage();
    void whisperUsesRunOneAfterAnotherInArrivalOrder();
    void whisperModeGivesWhisperText();
    void whisperDictationStoppedWhileLoadingLetsTheEngineGo();
    void goingAwayMidStopLeavesNothingToRunLate();
    void cloudModeStopUsesTheCloudText();
    void remoteFailuresFallBackToTheLiveText_data();
    void remoteFailuresFallBackToTheLiveText();
    void sampleHistoryKeepsTheNewestTenMillion();

private:
    void build(std::unique_ptr<CloudflareTranscriptionService> cloud);
    // Starts a dictation in the mode; its failure, or none.
    std::exception_ptr startIn(ASRModelPreference mode, LanguageOption language = LanguageOption::english)
    {
        m_hybrid->prepareDictation(++m_dictation, m_largeModel);
        m_hybrid->setPreferredASRModel(mode);
        QFuture<void> started = m_hybrid->start(language);
        if (!waitForFuture(started))
            return std::make_exception_ptr(TestError(QStringLiteral("start never finished")));
        return Futures::failureOf(started);
    }
    QString stop();
    bool feed(const AudioSamples &samples) { return waitForFuture(m_hybrid->appendAudioFrames(samples)); }
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
    bool placeModel(const ModelDescriptor &model)
    {
        QDir().mkpath(m_manager->modelsDirectory());
        QFile file(QDir(m_manager->modelsDirectory()).filePath(model.id));
        return file.open(QIODevice::WriteOnly) && file.resize(ModelManager::minimumModelBytes);
    }
    std::shared_ptr<FakeRecognitionTask> task() const { return m_platform->fakeSpeechRecognition().lastTask(); }
    int taskCount() const { return int(m_platform->fakeSpeechRecognition().tasks().size()); }

    FakePlatform *m_platform = nullptr;
    FakeMonotonicClock m_clock;
    std::unique_ptr<ModelManager> m_manager;
    std::shared_ptr<FakeWhisperEngineAdapter::Script> m_engine;
    std::shared_ptr<FakeCloudService::Script> m_cloud;
    std::unique_ptr<HybridRealtimeTranscriptionService> m_hybrid;
    QStringList m_partials;
    QStringList m_reports;
    TranscriberRefinement::DictationId m_dictation = 0;
    bool m_largeModel = false;
    QList<TranscriberRefinement::DictationId> m_reportedDictations;
};

void tst_HybridRealtimeTranscriptionService::init()
{
    m_platform = &FakePlatform::installNew();
    m_manager = std::make_unique<ModelManager>(m_platform->paths());
    m_engine = std::make_shared<FakeWhisperEngineAdapter::Script>();
    m_cloud = std::make_shared<FakeCloudService::Script>();
    m_partials.clear();
    m_reports.clear();
    m_reportedDictations.clear();
    m_largeModel = false;
    build(std::make_unique<FakeCloudService>(m_cloud));
}

void tst_HybridRealtimeTranscriptionService::build(std::unique_ptr<CloudflareTranscriptionService> cloud)
{
    m_hybrid = std::make_unique<HybridRealtimeTranscriptionService>(
        *m_manager,
        std::make_unique<WhisperOfflineTranscriptionService>(
            *m_manager, std::make_unique<FakeWhisperEngineAdapter>(m_engine), m_clock),
        std::move(cloud), m_platform->speechRecognition(), m_clock);
    m_hybrid->setOnPartialText([this](const QString &t) { m_partials.append(t); });
    const auto record = [this](TranscriberRefinement::DictationId dictation, const QString &report) {
        m_reportedDictations.append(dictation);
        m_reports.append(report);
    };
    m_hybrid->setOnRefinedText([record](auto id, const QString &t) { record(id, QStringLiteral("base:") + t); });
    m_hybrid->setOnBaseModelFailed([record](auto id, const QString &why) { record(id, QStringLiteral("baseFailed:") + why); });
    m_hybrid->setOnLargeModelText([record](auto id, const QString &t) { record(id, QStringLiteral("large:") + t); });
    m_hybrid->setOnLargeModelFailed(
        [record](auto id, const QString &why) { record(id, QStringLiteral("largeFailed:") + why); });
}

void tst_HybridRealtimeTranscriptionService::cleanup()
{
    m_hybrid.reset();
    m_manager.reset();
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

void tst_HybridRealtimeTranscriptionService::routesEachModeToItsEngine_data()
{
    QTest::addColumn<ASRModelPreference>("mode");
    QTest::addColumn<QString>("label");
    QTest::addColumn<ASRModelPreference>("activeMode");
    QTest::addColumn<QString>("engines"); // which of live, whisper and cloud get the samples

    using P = ASRModelPreference;
    const QString live = QStringLiteral("Live Speech");
    const QString cloud = CloudflareTranscriptionService::modelName;
    QTest::newRow("parallel") << P::parallelFast << live + " + Whisper Base" << P::parallelFast << "live";
    QTest::newRow("auto") << P::auto_ << live << P::appleSpeechFast << "live";
    QTest::newRow("live only") << P::appleSpeechFast << live << P::appleSpeechFast << "live";
    QTest::newRow("whisper base") << P::whisperBase << ModelDescriptor::whisperBase().name << P::whisperBase
                                  << "whisper";
    QTest::newRow("whisper large") << P::whisperLargeV3 << ModelDescriptor::whisperLargeV3().name
                                   << P::whisperLargeV3 << "whisper";
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
    QVERIFY(placeModel(ModelDescriptor::whisperBase()));
    QVERIFY(placeModel(ModelDescriptor::whisperLargeV3()));

    QVERIFY(!startIn(mode));
    QCOMPARE(m_hybrid->activeASRModelName(), label);
    QCOMPARE(m_hybrid->activeMode(), activeMode);
    QCOMPARE(taskCount(), live ? 1 : 0);
    if (live) {
        QVERIFY(task()->request()->shouldReportPartialResults());
        QVERIFY(task()->request()->requiresOnDeviceRecognition());
    }

    const AudioSamples batch(1024, 0.25f);
    QVERIFY(feed(batch));
    QVERIFY(feed({}));
    pump();
    if (live)
        QCOMPARE(task()->receivedSamples(), batch);
    QCOMPARE(m_engine->samplesIngested, engines.contains(QLatin1String("whisper")) ? 1024 : 0);
    QCOMPARE(m_cloud->received.size(), engines.contains(QLatin1String("cloud")) ? 1024 : 0);
}

void tst_HybridRealtimeTranscriptionService::startFailures()
{
    FakeSpeechRecognition &recognition = m_platform->fakeSpeechRecognition();
    recognition.setAuthorizationStatus(SpeechAuthorizationStatus::denied);
    QCOMPARE(describeException(startIn(ASRModelPreference::parallelFast)),
             HybridTranscriptionError::speechAuthorizationDenied().description());

    // The cloud modes go on without live text.
    QVERIFY(!startIn(ASRModelPreference::cloudflareWhisper));
    QCOMPARE(taskCount(), 0);
    QVERIFY(feed(AudioSamples(512, 0.1f)));
    QCOMPARE(m_cloud->received.size(), 512);

    recognition.setAuthorizationStatus(SpeechAuthorizationStatus::authorized);
    QCOMPARE(describeException(startIn(ASRModelPreference::auto_, LanguageOption::japanese)),
             HybridTranscriptionError::speechRecognizerUnavailable().description());
    // A Whisper mode without its model fails with the Whisper service's error.
    QCOMPARE(describeException(startIn(ASRModelPreference::whisperBase)),
             TranscriptionServiceError::missingASRModel().description());
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
    QVERIFY(!startIn(ASRModelPreference::parallelFast));
    // Counted in user-perceived characters: each "é" here is two code points.
    const QString longText(before, u'x');
    const QString shortText = QString(after, u'e').replace(u'e', QStringLiteral("e\u0301"));
    task()->deliverPartial(longText);
    task()->deliverPartial(QStringLiteral("  ") + shortText + QStringLiteral("\n"));
    pump();

    QCOMPARE(m_hybrid->latestPartialText(), freezes ? longText + u' ' + shortText : longText);
    QCOMPARE(m_partials.last(), m_hybrid->latestPartialText());
    QCOMPARE(stop(), m_hybrid->latestPartialText());
}

void tst_HybridRealtimeTranscriptionService::restartsKeepTheLiveTextWhole()
{
    QVERIFY(!startIn(ASRModelPreference::appleSpeechFast));
    task()->deliverPartial(QStringLiteral("first part"));
    task()->deliverPartial(QStringLiteral("first")); // the live text never shrinks
    pump();
    QCOMPARE(m_partials, (QStringList { QStringLiteral("first part"), QStringLiteral("first part") }));

    const auto first = task();
    finishTask(QStringLiteral("first part ends"));
    QCOMPARE(taskCount(), 2);
    QVERIFY(first->isCancelled());
    // A late call of the first task after the restart changes nothing.
    const int partials = int(m_partials.size());
    first->deliverPartial(QStringLiteral("something much longer than anything said so far"));
    first->deliverError(QStringLiteral("late failure"));
    pump();
    QCOMPARE(m_hybrid->latestPartialText(), QStringLiteral("first part ends"));
    QCOMPARE(m_partials.size(), partials);
    QCOMPARE(taskCount(), 2);

    m_clock.advance(2s);
    finishTask(QStringLiteral("second"));
    task()->deliverPartial(QStringLiteral("third"));
    pump();
    QCOMPARE(stop(), QStringLiteral("first part ends second third"));
}

void tst_HybridRealtimeTranscriptionService::anErrorFromTheRestartedTaskRestartsItAgain()
{
    QVERIFY(!startIn(ASRModelPreference::parallelFast));
    // The restarted recogniser fails the moment it starts, before the start
    // has even returned.
    int started = 0;
    m_platform->fakeSpeechRecognition().setOnTaskStarted([&started](FakeRecognitionTask &task) {
        if (++started == 1)
            task.deliverError(QStringLiteral("The recogniser is busy."));
    });
    finishTask(QStringLiteral("one"));
    QCOMPARE(taskCount(), 2);
    tick(2s); // the throttled restart and its pause
    QCOMPARE(taskCount(), 3);
    task()->deliverPartial(QStringLiteral("two"));
    pump();
    QCOMPARE(stop(), QStringLiteral("one two"));
}

void tst_HybridRealtimeTranscriptionService::rapidRestartIsPostponedAndHeldBatchesAreFed()
{
    QVERIFY(!startIn(ASRModelPreference::parallelFast));
    finishTask(QStringLiteral("one"));
    QCOMPARE(taskCount(), 2);

    // 0.5 s after the last restart: the restart waits for the throttle.
    m_clock.advance(300ms);
    task()->deliverFinal(QStringLiteral("two"));
    pump();
    AudioSamples held; // up to the cap; later batches are dropped
    for (int i = 0; i < LiveRecognitionSupervisor::maxPendingBatches + 2; ++i) {
        const AudioSamples batch(16, float(i + 1) / 100);
        if (i < LiveRecognitionSupervisor::maxPendingBatches)
            held.append(batch);
        QVERIFY(feed(batch));
    }
    tick(499ms);
    QCOMPARE(taskCount(), 2);
    tick(1ms); // the throttle allows it now
    tick(200ms);
    QCOMPARE(taskCount(), 3);
    QCOMPARE(task()->receivedSamples(), held);

    // Batches after the restart go straight to the new request.
    QVERIFY(feed(AudioSamples(10, 0.9f)));
    QCOMPARE(task()->receivedSamples().size(), held.size() + 10);
    QCOMPARE(stop(), QStringLiteral("one two"));
}

void tst_HybridRealtimeTranscriptionService::failedRestartsBackOffAndGiveUp()
{
    QVERIFY(!startIn(ASRModelPreference::parallelFast));
    m_platform->fakeSpeechRecognition().setAvailable(false);
    LogCapture log;
    const auto attempts = [&log] {
        return int(log.linesStartingWith(QStringLiteral("[AppleSpeech] Restart attempt")).size());
    };
    task()->deliverFinal(QStringLiteral("kept"));
    pump();

    // Attempts at 0.2 s, then after 0.5, 1, 2, 4, 5, 5 and 5 s; then none.
    const QList<MonotonicClock::Duration> gaps { 200ms, 500ms, 1s, 2s, 4s, 5s, 5s, 5s };
    for (int i = 0; i < gaps.size(); ++i) {
        tick(gaps[i] - 1ms);
        QCOMPARE(attempts(), i);
        tick(1ms);
        QCOMPARE(attempts(), i + 1);
    }
    QCOMPARE(m_clock.pendingCount(), 0);

    // Nothing is lost for the stop.
    QVERIFY(feed(AudioSamples(100, 0.1f)));
    QCOMPARE(stop(), QStringLiteral("kept"));
    QCOMPARE(taskCount(), 1);
}

void tst_HybridRealtimeTranscriptionService::stopEndsARestartLoop()
{
    QVERIFY(!startIn(ASRModelPreference::appleSpeechFast));
    FakeSpeechRecognition &recognition = m_platform->fakeSpeechRecognition();
    recognition.setAvailable(false);
    finishTask(QStringLiteral("words")); // the first attempt fails

    recognition.setAvailable(true);
    QCOMPARE(stop(), QStringLiteral("words"));
    tick(10s);
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
    QVERIFY(!startIn(ASRModelPreference::appleSpeechFast));
    const auto first = task();
    QFuture<QString> quick = m_hybrid->stopAndFinalize();
    QVERIFY(first->request()->isAudioEnded());
    first->setState(RecognitionTaskState::completed);
    tick(100ms);
    QVERIFY(quick.isFinished());
    QVERIFY(first->isCancelled());

    // A final result that arrives while the stop waits brings the last words.
    QVERIFY(!startIn(ASRModelPreference::appleSpeechFast));
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

    QVERIFY(!startIn(ASRModelPreference::appleSpeechFast));
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
    QTest::addColumn<QString>("installed"); // models present: "base", "large"
    QTest::addColumn<QString>("encoder");   // where the Large encoder lies: "container", "support" or ""
    QTest::addColumn<bool>("largeEnabled");
    QTest::addColumn<QString>("decode"); // the engine's final decodes: "ok" or "fail"
    QTest::addColumn<QStringList>("finals"); // texts of the "ok" decodes, in order
    QTest::addColumn<QStringList>("reports");

    const QStringList words { "base words", "large words" };
    // each failure says why, for the overlay's card
    const auto baseFailed = [](const char *why) { return QStringList { QStringLiteral("baseFailed:") + why }; };
    const auto largeFailed = [](const char *why) {
        return QStringList { QStringLiteral("base:base words"), QStringLiteral("largeFailed:") + why };
    };
    QTest::newRow("no samples") << false << "base large" << "container" << true << "ok" << words
                                << baseFailed("Skipped: no audio was recorded");
    QTest::newRow("no base model") << true << "large" << "container" << true << "ok" << words
                                   << baseFailed("Skipped: not installed");
    QTest::newRow("base only") << true << "base large" << "container" << false << "ok" << words
                               << QStringList { "base:base words" };
    QTest::newRow("silence: no Large pass") << true << "base large" << "container" << true << "ok"
                                            << QStringList { "", "large words" } << baseFailed("No words recognised");
    const QStringList noEncoder = largeFailed("Skipped: its encoder is not installed yet");
    QTest::newRow("no encoder") << true << "base large" << "" << true << "ok" << words << noEncoder;
    // The encoder counts only in the application container, never in the fallback directory.
    QTest::newRow("encoder outside the container") << true << "base large" << "support" << true << "ok" << words
                                                   << noEncoder;
    QTest::newRow("no large model") << true << "base" << "container" << true << "ok" << words
                                    << largeFailed("Skipped: not installed");
    QTest::newRow("both") << true << "base large" << "container" << true << "ok" << words
                          << QStringList { "base:base words", "large:large words" };
    QTest::newRow("large gives nothing") << true << "base large" << "container" << true << "ok"
                                         << QStringList { "base words", "" } << largeFailed("No words recognised");
    // A failed final decode is the stage's failure, never the live window's
    // last hypothesis passed off as the whole dictation.
    QTest::newRow("decode fails") << true << "base large" << "container" << true << "fail" << words
                                  << baseFailed("Failed: decode broke");
}

void tst_HybridRealtimeTranscriptionService::refinementReportsOncePerStage()
{
    QFETCH(bool, samples);
    QFETCH(QString, installed);
    QFETCH(QString, encoder);
    QFETCH(bool, largeEnabled);
    QFETCH(QString, decode);
    QFETCH(QStringList, finals);
    QFETCH(QStringList, reports);
    if (encoder == QLatin1String("support"))
        m_platform->fakePaths().setContainerAvailable(false);
    if (installed.contains(QLatin1String("base")))
        QVERIFY(placeModel(ModelDescriptor::whisperBase()));
    if (installed.contains(QLatin1String("large")))
        QVERIFY(placeModel(ModelDescriptor::whisperLargeV3()));
    if (!encoder.isEmpty())
        QVERIFY(QDir().mkpath(m_manager->modelsDirectory() + QStringLiteral("/ggml-large-v3-encoder.mlmodelc")));
    m_engine->finalizeResults.assign(finals.cbegin(), finals.cend());
    m_engine->ingestResults = { QStringLiteral("last window") };
    if (decode == QLatin1String("fail"))
        m_engine->finalizeError = std::make_shared<TestError>(QStringLiteral("decode broke"));

    m_largeModel = largeEnabled;
    QVERIFY(!startIn(ASRModelPreference::parallelFast));
    if (samples)
        QVERIFY(feed(AudioSamples(16000, 0.1f)));
    task()->deliverPartial(QStringLiteral("live words"));
    pump();
    QCOMPARE(stop(), QStringLiteral("live words"));
    // The next dictation is prepared otherwise; this refinement keeps its own.
    m_hybrid->prepareDictation(m_dictation + 1, !largeEnabled);
    QTRY_COMPARE(m_reports, reports);
    QTest::qWait(20);
    QCOMPARE(m_reports, reports);
    // Refinement partials are not live text of any dictation.
    QCOMPARE(m_partials, QStringList { QStringLiteral("live words") });
    // A failed Base stage never goes on to the Large pass.
    if (reports.first().startsWith(QLatin1String("baseFailed")))
        QVERIFY(!m_engine->journal.contains(QStringLiteral("load ggml-large-v3-q5_0.bin")));
}

void tst_HybridRealtimeTranscriptionService::whisperUsesRunOneAfterAnotherInArrivalOrder()
{
    QVERIFY(placeModel(ModelDescriptor::whisperBase()));
    QVERIFY(placeModel(ModelDescriptor::whisperLargeV3()));
    QVERIFY(QDir().mkpath(m_manager->modelsDirectory() + QStringLiteral("/ggml-large-v3-encoder.mlmodelc")));
    m_engine->holdFinalize = true;
    m_engine->ingestResults = { QStringLiteral("refinement partial") };
    m_largeModel = true;
    QVERIFY(!startIn(ASRModelPreference::parallelFast));
    QVERIFY(feed(AudioSamples(16000, 0.1f)));
    QCOMPARE(stop(), QString());
    QTRY_COMPARE(m_engine->heldFinalizes.size(), 1); // the Base pass is decoding

    // A Whisper-mode dictation starts meanwhile: it waits for the whole refinement.
    m_hybrid->prepareDictation(++m_dictation, true);
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
    // reported for the refined dictation, not the one prepared since
    QCOMPARE(m_reportedDictations, (QList<TranscriberRefinement::DictationId> { m_dictation - 1, m_dictation - 1 }));

    // The dictation holds the engine until its stop; a refinement waits for it.
    m_engine->holdFinalize = false;
    m_engine->finalizeResults = { QStringLiteral("dictated words") };
    QCOMPARE(stop(), QStringLiteral("dictated words"));
}

void tst_HybridRealtimeTranscriptionService::whisperModeGivesWhisperText()
{
    QVERIFY(placeModel(ModelDescriptor::whisperBase()));
    m_engine->ingestResults = { QStringLiteral("live whisper") };
    QVERIFY(!startIn(ASRModelPreference::whisperBase));
    QVERIFY(feed(AudioSamples(1024, 0.1f)));
    QTRY_COMPARE(m_partials, QStringList { QStringLiteral("live whisper") });
    m_engine->finalizeResults = { QStringLiteral("final whisper") };
    QCOMPARE(stop(), QStringLiteral("final whisper"));
}

void tst_HybridRealtimeTranscriptionService::whisperDictationStoppedWhileLoadingLetsTheEngineGo()
{
    QVERIFY(placeModel(ModelDescriptor::whisperBase()));
    m_engine->holdLoad = true;
    m_hybrid->prepareDictation(++m_dictation, false);
    m_hybrid->setPreferredASRModel(ASRModelPreference::whisperBase);
    const QFuture<void> loading = m_hybrid->start(LanguageOption::english);
    QTRY_COMPARE(m_engine->heldLoads.size(), 1);
    stop();

    // A parallel dictation runs meanwhile; the model is loaded late, during it.
    m_engine->holdLoad = false;
    QVERIFY(!startIn(ASRModelPreference::parallelFast));
    QVERIFY(feed(AudioSamples(16000, 0.1f)));
    m_engine->heldLoads.takeFirst()->finish(); // and let go, as the real engine does
    QVERIFY(waitForFuture(loading));
    m_engine->finalizeResults = {QStringLiteral("refined words")};
    stop();
    // the late start kept no hold on the engine, so the refinement runs
    QTRY_VERIFY(m_reportedDictations.contains(m_dictation));
    QCOMPARE(m_reports[m_reportedDictations.indexOf(m_dictation)], QStringLiteral("base:refined words"));
}

void tst_HybridRealtimeTranscriptionService::goingAwayMidStopLeavesNothingToRunLate()
{
    // The stop waits on the engine's final decode, and on the time limit beside it.
    QVERIFY(placeModel(ModelDescriptor::whisperBase()));
    QVERIFY(!startIn(ASRModelPreference::whisperBase));
    QVERIFY(feed(AudioSamples(1024, 0.1f)));
    m_engine->holdFinalize = true;
    const QFuture<QString> stopped = m_hybrid->stopAndFinalize();
    for (int i = 0; i < 20 && m_engine->heldFinalizes.isEmpty(); ++i)
        tick(100ms);
    QCOMPARE(m_engine->heldFinalizes.size(), 1);

    // Qt asserts on a continuation whose object is gone: the decode and the
    // time limit ending afterwards must find nothing waiting on them.
    m_hybrid.reset();
    QVERIFY(stopped.isCanceled());
    finishHeld(m_engine->heldFinalizes.takeFirst(), QStringLiteral("late words"));
    tick(WhisperOfflineTranscriptionService::finalizeTimeLimit);
    QVERIFY(m_partials.isEmpty());
}

void tst_HybridRealtimeTranscriptionService::cloudModeStopUsesTheCloudText()
{
    // The cloud's text wins; without one the live text stands.
    for (const QString &cloudText : { QStringLiteral("cloud text"), QString() }) {
        QVERIFY(!startIn(ASRModelPreference::cloudflareWhisper));
        task()->deliverPartial(QStringLiteral("live guess"));
        pump();
        m_cloud->finalText = cloudText;
        QCOMPARE(stop(), cloudText.isEmpty() ? QStringLiteral("live guess") : cloudText);
    }

    QVERIFY(!startIn(ASRModelPreference::cloudflareWhisper));
    task()->deliverPartial(QStringLiteral("live guess"));
    pump();
    m_cloud->failStop = true;
    QCOMPARE(stop(), QStringLiteral("live guess"));
    QCOMPARE(m_hybrid->cloudFailureOfLastStop(), QStringLiteral("cloud refused"));
    QVERIFY(m_reports.isEmpty());

    // each stop tells its own outcome
    QVERIFY(!startIn(ASRModelPreference::cloudflareWhisper));
    m_cloud->failStop = false;
    stop();
    QCOMPARE(m_hybrid->cloudFailureOfLastStop(), QString());
}

void tst_HybridRealtimeTranscriptionService::remoteFailuresFallBackToTheLiveText_data()
{
    using Response = LoopbackHttpServer::Response;
    QTest::addColumn<Response>("reply");
    QTest::addColumn<QString>("why"); // part of the failure's description

    const auto json = [](const QByteArray &body, int status = 200) {
        return Response::withBody(body, status, "application/json");
    };
    Response dripping = json(R"({"success": true, "text": "too late"})");
    dripping.stallAfterBytes = 1;
    QTest::newRow("invalid JSON") << json(R"({"success": tr)") << "could not be read";
    QTest::newRow("not an object") << json(R"(["words"])") << "not a JSON object";
    QTest::newRow("500") << Response::withBody("boom", 500, "text/plain") << "Transcription error (500): boom";
    QTest::newRow("401") << json("{}", 401) << "not authorized";
    QTest::newRow("50 MB") << Response::generated(50 << 20, 1, R"({"success": true, "text": ")")
                           << "Invalid response from transcription service.";
    // one second of audio: 30 s plus one
    QTest::newRow("a byte, then nothing") << dripping << "did not answer within 31 seconds";
}

// The live recogniser held the words: a failing remote service must not cost
// them, and the caller learns why the cloud text is missing.
void tst_HybridRealtimeTranscriptionService::remoteFailuresFallBackToTheLiveText()
{
    QFETCH(LoopbackHttpServer::Response, reply);
    QFETCH(QString, why);
    LoopbackHttpServer server;
    server.setResponse(QStringLiteral("/v1/transcribe"), reply);
    m_platform->fakeSettings().setValue(CloudApiSettings::tokenKey, QStringLiteral("token"));
    m_platform->fakeSettings().setValue(CloudApiSettings::baseUrlKey, server.url(QStringLiteral("/v1")).toString());
    build(std::make_unique<CloudflareTranscriptionService>(m_clock));

    QVERIFY(!startIn(ASRModelPreference::cloudflareWhisper));
    task()->deliverPartial(QStringLiteral("live words"));
    pump();
    QVERIFY(feed(AudioSamples(16000, 0.1f)));
    const QFuture<QString> stopped = m_hybrid->stopAndFinalize();
    tick(1s); // the live recogniser's wait, then the upload
    QTRY_COMPARE(server.requestCount(), 1);
    if (reply.stallAfterBytes >= 0) {
        QTest::qWait(50);
        tick(30s);
        QVERIFY(!stopped.isFinished());
        tick(1s);
    }
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(stopped.result(), QStringLiteral("live words"));
    QVERIFY2(m_hybrid->cloudFailureOfLastStop().contains(why), qPrintable(m_hybrid->cloudFailureOfLastStop()));
    QCOMPARE(m_hybrid->cloudMinutesNotCountedByServer(), 0.0);
}

void tst_HybridRealtimeTranscriptionService::sampleHistoryKeepsTheNewestTenMillion()
{
    QVERIFY(placeModel(ModelDescriptor::whisperBase()));
    // Each sample holds its position (exact in a float below 2^24). Past
    // eleven million samples the dropped head is compacted away: a stop just
    // after that, and one after the head has grown again.
    for (const int blocks : { 12, 13 }) {
        QVERIFY(!startIn(ASRModelPreference::parallelFast));
        qsizetype fed = 0;
        for (int i = 0; i < blocks; ++i) {
            AudioSamples block(999'983);
            std::iota(block.begin(), block.end(), float(fed));
            QVERIFY(feed(block));
            fed += block.size();
        }
        m_reports.clear();
        m_engine->finalizeResults = { QStringLiteral("words") };
        stop();
        QTRY_COMPARE(m_reports, QStringList { QStringLiteral("base:words") });
        AudioSamples newest(SessionSampleHistory::capacity);
        std::iota(newest.begin(), newest.end(), float(fed - SessionSampleHistory::capacity));
        QVERIFY2(m_engine->lastIngested == newest, qPrintable(QString::number(blocks)));
    }

    // The next dictation starts with an empty history.
    QVERIFY(!startIn(ASRModelPreference::parallelFast));
    QVERIFY(feed(AudioSamples(100, 0.5f)));
    m_engine->finalizeResults = { QStringLiteral("again") };
    stop();
    QTRY_COMPARE(m_engine->lastIngested.size(), 100);
}

QTEST_GUILESS_MAIN(tst_HybridRealtimeTranscriptionService)
#include "tst_HybridRealtimeTranscriptionService.moc"
