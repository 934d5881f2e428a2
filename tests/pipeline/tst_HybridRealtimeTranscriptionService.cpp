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
        int starts = 0;
    };
    explicit FakeCloudService(std::shared_ptr<Script> script)
        : m_script(std::move(script))
    {
    }
    QFuture<void> start(LanguageOption) override
    {
        ++m_script->starts;
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

QString text(int characters, QChar fill = u'a')
{
    return QString(characters, fill);
}

// The fakes, except that speech is recognised for real.
class PlatformWithPocketsphinx : public FakePlatform {
public:
    SpeechRecognition &speechRecognition() override { return m_recognition; }

private:
    PocketsphinxSpeechRecognition m_recognition;
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
    void recognisesRealSpeechLive();

private:
    void makeHybrid();
    void startIn(ASRModelPreference mode, LanguageOption language = LanguageOption::english);
    QString stop();
    void placeModel(const ModelDescriptor &model);
    void placeEncoder();
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
};

void tst_HybridRealtimeTranscriptionService::init()
{
    m_platform = &FakePlatform::installNew();
    m_manager = std::make_unique<ModelManager>();
    m_engine = std::make_shared<FakeWhisperEngineAdapter::Script>();
    m_cloud = std::make_shared<FakeCloudService::Script>();
    m_partials.clear();
    m_reports.clear();
    makeHybrid();
}

void tst_HybridRealtimeTranscriptionService::cleanup()
{
    m_hybrid.reset();
    m_manager.reset();
}

void tst_HybridRealtimeTranscriptionService::makeHybrid()
{
    m_hybrid = std::make_unique<HybridRealtimeTranscriptionService>(
        *m_manager, std::make_unique<FakeWhisperEngineAdapter>(m_engine), std::make_unique<FakeCloudService>(m_cloud),
        m_clock);
    m_hybrid->setOnPartialText([this](const QString &t) { m_partials.append(t); });
    m_hybrid->setOnRefinedText([this](const QString &t) { m_reports.append(QStringLiteral("base:") + t); });
    m_hybrid->setOnBaseModelFailed([this] { m_reports.append(QStringLiteral("baseFailed")); });
    m_hybrid->setOnLargeModelText([this](const QString &t) { m_reports.append(QStringLiteral("large:") + t); });
    m_hybrid->setOnLargeModelFailed([this] { m_reports.append(QStringLiteral("largeFailed")); });
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
        m_clock.advance(100ms);
        pump();
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
    QTest::addColumn<bool>("live");   // the recogniser gets the samples
    QTest::addColumn<bool>("whisper"); // the Whisper engine gets them
    QTest::addColumn<bool>("cloud");   // the cloud service gets them

    using P = ASRModelPreference;
    QTest::newRow("parallel") << P::parallelFast << "Apple Speech (Live) + Whisper Base" << P::parallelFast << true
                              << false << false;
    QTest::newRow("auto") << P::auto_ << "Apple Speech (Live)" << P::appleSpeechFast << true << false << false;
    QTest::newRow("apple") << P::appleSpeechFast << "Apple Speech (Live)" << P::appleSpeechFast << true << false
                           << false;
    QTest::newRow("whisper base") << P::whisperBase << "Whisper Base (quick test)" << P::whisperBase << false << true
                                  << false;
    QTest::newRow("whisper large") << P::whisperLargeV3 << "Whisper Large v3 (Q5_0)" << P::whisperLargeV3 << false
                                   << true << false;
    QTest::newRow("cloud") << P::cloudflareWhisper << "Cloud test model" << P::cloudflareWhisper << true << false
                           << true;
    QTest::newRow("whisper mode goes to the cloud")
        << P::whisperMode << "Cloud test model" << P::cloudflareWhisper << true << false << true;
}

void tst_HybridRealtimeTranscriptionService::routesEachModeToItsEngine()
{
    QFETCH(ASRModelPreference, mode);
    QFETCH(QString, label);
    QFETCH(ASRModelPreference, activeMode);
    QFETCH(bool, live);
    QFETCH(bool, whisper);
    QFETCH(bool, cloud);
    placeModel(ModelDescriptor::whisperBase());
    placeModel(ModelDescriptor::whisperLargeV3());
    QCOMPARE(m_hybrid->activeASRModelName(), QStringLiteral("Not started"));

    startIn(mode);
    QCOMPARE(m_hybrid->activeASRModelName(), label);
    QCOMPARE(m_hybrid->activeMode(), activeMode);
    QCOMPARE(taskCount(), live ? 1 : 0);
    if (live) {
        QVERIFY(task()->request()->shouldReportPartialResults());
        QVERIFY(task()->request()->requiresOnDeviceRecognition());
    }

    const AudioSamples batch(1024, 0.25f);
    QVERIFY(waitForFuture(m_hybrid->appendAudioFrames(batch)));
    QVERIFY(waitForFuture(m_hybrid->appendAudioFrames({})));
    pump();
    if (live)
        QCOMPARE(task()->receivedSamples(), batch);
    QCOMPARE(m_engine->samplesIngested, whisper ? 1024 : 0);
    QCOMPARE(m_cloud->received.size(), cloud ? 1024 : 0);
}

void tst_HybridRealtimeTranscriptionService::liveRecognitionStartFailures()
{
    FakeSpeechRecognition &recognition = m_platform->fakeSpeechRecognition();
    recognition.setAuthorizationStatus(SpeechAuthorizationStatus::denied);
    m_hybrid->setPreferredASRModel(ASRModelPreference::parallelFast);
    QFuture<void> denied = m_hybrid->start(LanguageOption::english);
    QVERIFY(waitForFuture(denied));
    QCOMPARE(failureOf<HybridTranscriptionError>(denied)->description(),
             QStringLiteral("Speech recognition permission denied."));

    // The cloud modes go on without live text.
    startIn(ASRModelPreference::cloudflareWhisper);
    QCOMPARE(taskCount(), 0);
    QVERIFY(waitForFuture(m_hybrid->appendAudioFrames(AudioSamples(512, 0.1f))));
    QCOMPARE(m_cloud->received.size(), 512);

    recognition.setAuthorizationStatus(SpeechAuthorizationStatus::authorized);
    m_hybrid->setPreferredASRModel(ASRModelPreference::auto_);
    QFuture<void> noModel = m_hybrid->start(LanguageOption::japanese);
    QVERIFY(waitForFuture(noModel));
    QCOMPARE(failureOf<HybridTranscriptionError>(noModel)->description(),
             QStringLiteral("Apple Speech recognizer is unavailable for this language."));

    recognition.setAvailable(false);
    QFuture<void> unavailable = m_hybrid->start(LanguageOption::english);
    QVERIFY(waitForFuture(unavailable));
    QCOMPARE(failureOf<HybridTranscriptionError>(unavailable)->kind(),
             HybridTranscriptionError::Kind::speechRecognizerUnavailable);

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

    QTest::newRow("150 to 20 slides") << 150 << 20 << true;
    QTest::newRow("150 to 44 slides") << 150 << 44 << true;
    QTest::newRow("150 to 45 is not under 30%") << 150 << 45 << false;
    QTest::newRow("150 to 50 keeps the longer") << 150 << 50 << false;
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
    const QString longText = text(before, u'x');
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
    first->deliverFinal(QStringLiteral("hello there friend"));
    pump();
    m_clock.advance(200ms);
    pump();
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
    LogCapture log;
    task()->deliverPartial(QStringLiteral("first part"));
    task()->deliverFinal(QStringLiteral("first part ends"));
    pump();
    m_clock.advance(200ms);
    pump();
    QCOMPARE(taskCount(), 2);
    QVERIFY(log.contains(QStringLiteral("[AppleSpeech] Restarted (attempt 1)")));

    m_clock.advance(2s);
    task()->deliverError(QStringLiteral("The recogniser gave up."));
    pump();
    QVERIFY(log.contains(QStringLiteral("[AppleSpeech] Task error: The recogniser gave up.")));
    m_clock.advance(200ms);
    pump();
    QCOMPARE(taskCount(), 3);

    m_clock.advance(2s);
    task()->deliverFinal(QStringLiteral("second"));
    pump();
    m_clock.advance(200ms);
    pump();
    task()->deliverPartial(QStringLiteral("third"));
    pump();
    QCOMPARE(m_hybrid->latestPartialText(), QStringLiteral("first part ends second third"));
    QCOMPARE(stop(), QStringLiteral("first part ends second third"));
}

void tst_HybridRealtimeTranscriptionService::rapidRestartIsPostponedAndHeldBatchesAreFed()
{
    startIn(ASRModelPreference::parallelFast);
    LogCapture log;
    task()->deliverFinal(QStringLiteral("one"));
    pump();
    m_clock.advance(200ms);
    pump();
    QCOMPARE(taskCount(), 2);

    // 0.5 s after the last restart: the restart waits for the throttle.
    m_clock.advance(300ms);
    task()->deliverFinal(QStringLiteral("two"));
    pump();
    QVERIFY(log.contains(QStringLiteral("[AppleSpeech] Throttling rapid restart (last was 0.50s ago)")));
    QList<AudioSamples> held;
    for (int i = 0; i < 3; ++i) {
        held.append(AudioSamples(1024, float(i + 1) / 10));
        QVERIFY(waitForFuture(m_hybrid->appendAudioFrames(held.last())));
    }
    QCOMPARE(taskCount(), 2);
    m_clock.advance(499ms);
    pump();
    QCOMPARE(taskCount(), 2);
    m_clock.advance(1ms); // the throttle allows it now
    pump();
    m_clock.advance(200ms);
    pump();
    QCOMPARE(taskCount(), 3);
    QVERIFY(log.contains(QStringLiteral("[AppleSpeech] Fed 3 held frame batches to the new request")));
    AudioSamples expected;
    for (const auto &batch : held)
        expected.append(batch);
    QCOMPARE(task()->receivedSamples(), expected);

    // Batches after the restart go straight to the new request.
    QVERIFY(waitForFuture(m_hybrid->appendAudioFrames(AudioSamples(10, 0.9f))));
    QCOMPARE(task()->receivedSamples().size(), expected.size() + 10);
    QCOMPARE(stop(), QStringLiteral("one two"));
}

void tst_HybridRealtimeTranscriptionService::failedRestartsBackOffAndGiveUp()
{
    startIn(ASRModelPreference::parallelFast);
    FakeSpeechRecognition &recognition = m_platform->fakeSpeechRecognition();
    recognition.setAvailable(false);
    LogCapture log;
    task()->deliverFinal(QStringLiteral("kept"));
    pump();

    // Attempts at 0.2 s, then after 0.5, 1, 2, 4, 5, 5 and 5 s.
    const QList<MonotonicClock::Duration> gaps { 200ms, 500ms, 1s, 2s, 4s, 5s, 5s, 5s };
    for (int i = 0; i < gaps.size(); ++i) {
        m_clock.advance(gaps[i] - 1ms);
        pump();
        QCOMPARE(log.linesStartingWith(QStringLiteral("[AppleSpeech] Restart attempt")).size(), i);
        m_clock.advance(1ms);
        pump();
        QVERIFY(log.contains(QStringLiteral("[AppleSpeech] Restart attempt %1 failed: Apple Speech recognizer is "
                                            "unavailable for this language.")
                                 .arg(i + 1)));
    }
    QVERIFY(log.contains(QStringLiteral("[AppleSpeech] Giving up live recognition after 8 failed restarts")));
    QCOMPARE(m_clock.pendingCount(), 0);

    // Nothing is lost for the stop: the text and the samples are still there.
    QVERIFY(waitForFuture(m_hybrid->appendAudioFrames(AudioSamples(100, 0.1f))));
    QCOMPARE(stop(), QStringLiteral("kept"));
    QCOMPARE(taskCount(), 1);
}

void tst_HybridRealtimeTranscriptionService::stopEndsARestartLoop()
{
    startIn(ASRModelPreference::appleSpeechFast);
    FakeSpeechRecognition &recognition = m_platform->fakeSpeechRecognition();
    recognition.setAvailable(false);
    LogCapture log;
    task()->deliverFinal(QStringLiteral("words"));
    pump();
    m_clock.advance(200ms);
    pump();
    QCOMPARE(log.linesStartingWith(QStringLiteral("[AppleSpeech] Restart attempt")).size(), 1);

    recognition.setAvailable(true);
    QCOMPARE(stop(), QStringLiteral("words"));
    m_clock.advance(10s);
    pump();
    QCOMPARE(log.linesStartingWith(QStringLiteral("[AppleSpeech] Restart attempt")).size(), 1);
    QCOMPARE(taskCount(), 1); // no recogniser left running after the dictation
}

void tst_HybridRealtimeTranscriptionService::bestTextChoice_data()
{
    QTest::addColumn<QString>("pre");
    QTest::addColumn<QString>("post");
    QTest::addColumn<QString>("latest");
    QTest::addColumn<QString>("best");

    QTest::newRow("latest longest") << text(11) << text(5) << text(17, u'l') << text(17, u'l');
    QTest::newRow("equal: first wins") << text(8, u'p') << "" << text(8, u'l') << text(8, u'p');
    QTest::newRow("post longest") << text(3) << text(9, u'o') << text(4) << text(9, u'o');
    QTest::newRow("all empty") << "" << "" << "" << "";
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
    m_clock.advance(100ms);
    pump();
    QVERIFY(quick.isFinished());
    QVERIFY(first->isCancelled());

    startIn(ASRModelPreference::appleSpeechFast);
    QFuture<QString> slow = m_hybrid->stopAndFinalize();
    for (int i = 0; i < 7; ++i) {
        m_clock.advance(100ms);
        pump();
    }
    QVERIFY(!slow.isFinished());
    m_clock.advance(100ms);
    pump();
    QVERIFY(slow.isFinished());
    QCOMPARE(slow.result(), QString());
}

void tst_HybridRealtimeTranscriptionService::refinementReportsOncePerStage_data()
{
    QTest::addColumn<bool>("samples");
    QTest::addColumn<bool>("base");    // Base model installed
    QTest::addColumn<bool>("large");   // Large model installed
    QTest::addColumn<bool>("encoder");
    QTest::addColumn<bool>("largeEnabled");
    QTest::addColumn<QStringList>("finals"); // what the engine's finalize passes return, in order
    QTest::addColumn<QStringList>("reports");

    const QStringList words { QStringLiteral("base words"), QStringLiteral("large words") };
    QTest::newRow("no samples") << false << true << true << true << true << words
                                << QStringList { "baseFailed", "largeFailed" };
    QTest::newRow("no base model") << true << false << true << true << true << words
                                   << QStringList { "baseFailed", "largeFailed" };
    QTest::newRow("base only") << true << true << true << true << false << words
                               << QStringList { "base:base words" };
    QTest::newRow("silence") << true << true << false << false << false << QStringList { "" }
                             << QStringList { "baseFailed" };
    QTest::newRow("no encoder") << true << true << true << false << true << words
                                << QStringList { "base:base words", "largeFailed" };
    QTest::newRow("no large model") << true << true << false << true << true << words
                                    << QStringList { "base:base words", "largeFailed" };
    QTest::newRow("both") << true << true << true << true << true << words
                          << QStringList { "base:base words", "large:large words" };
    QTest::newRow("large gives nothing") << true << true << true << true << true
                                         << QStringList { QStringLiteral("base words"), QString() }
                                         << QStringList { "base:base words", "largeFailed" };
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
        QVERIFY(waitForFuture(m_hybrid->appendAudioFrames(AudioSamples(16000, 0.1f))));
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
    QVERIFY(waitForFuture(m_hybrid->appendAudioFrames(AudioSamples(16000, 0.1f))));
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
    QVERIFY(waitForFuture(m_hybrid->appendAudioFrames(AudioSamples(1024, 0.1f))));
    QTRY_COMPARE(m_partials, QStringList { QStringLiteral("live whisper") });
    m_engine->finalizeResults = { QStringLiteral("final whisper") };
    QCOMPARE(stop(), QStringLiteral("final whisper"));

    // Nothing heard: no text at all, not "[English]".
    startIn(ASRModelPreference::whisperBase);
    QCOMPARE(stop(), QString());
    QCOMPARE(m_hybrid->activeASRModelName(), QStringLiteral("Whisper Base (quick test)"));
}

void tst_HybridRealtimeTranscriptionService::cloudModeStopUsesTheCloudText()
{
    startIn(ASRModelPreference::cloudflareWhisper);
    task()->deliverPartial(QStringLiteral("live guess"));
    pump();
    m_cloud->finalText = QStringLiteral("cloud text");
    QCOMPARE(stop(), QStringLiteral("cloud text"));

    startIn(ASRModelPreference::cloudflareWhisper);
    task()->deliverPartial(QStringLiteral("live guess"));
    pump();
    m_cloud->finalText.clear();
    QCOMPARE(stop(), QStringLiteral("live guess"));

    startIn(ASRModelPreference::cloudflareWhisper);
    m_cloud->failStop = true;
    QFuture<QString> stopped = m_hybrid->stopAndFinalize();
    for (int i = 0; i < 10; ++i) {
        m_clock.advance(100ms);
        pump();
    }
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(describeException(Futures::failureOf(stopped)), QStringLiteral("cloud refused"));
    QVERIFY(m_reports.isEmpty());
}

void tst_HybridRealtimeTranscriptionService::sampleHistoryKeepsTheNewestTenMillion()
{
    placeModel(ModelDescriptor::whisperBase());
    startIn(ASRModelPreference::parallelFast);
    AudioSamples first(1, 1.0f);
    QVERIFY(waitForFuture(m_hybrid->appendAudioFrames(first)));
    const AudioSamples block(1'000'000, 0.0f);
    for (int i = 0; i < 10; ++i)
        QVERIFY(waitForFuture(m_hybrid->appendAudioFrames(block)));
    m_engine->finalizeResults = { QStringLiteral("words") };
    stop();
    QTRY_COMPARE(m_reports, QStringList { QStringLiteral("base:words") });
    QCOMPARE(m_engine->lastIngested.size(), HybridRealtimeTranscriptionService::maxSessionSamples);
    QCOMPARE(m_engine->lastIngested.count(1.0f), 0);

    // The next dictation starts with an empty history.
    startIn(ASRModelPreference::parallelFast);
    QVERIFY(waitForFuture(m_hybrid->appendAudioFrames(AudioSamples(100, 0.5f))));
    m_engine->finalizeResults = { QStringLiteral("again") };
    stop();
    QTRY_COMPARE(m_engine->lastIngested.size(), 100);
}

void tst_HybridRealtimeTranscriptionService::recognisesRealSpeechLive()
{
    Platform::install(std::make_unique<PlatformWithPocketsphinx>());
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
    QTRY_VERIFY_WITH_TIMEOUT(hybrid.latestPartialText().contains(QStringLiteral("going"))
                                 || hybrid.latestPartialText().contains(QStringLiteral("park")),
                             20000);
    QVERIFY(!partials.isEmpty());
    QFuture<QString> stopped = hybrid.stopAndFinalize();
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(stopped.result(), hybrid.latestPartialText());
}

QTEST_GUILESS_MAIN(tst_HybridRealtimeTranscriptionService)
#include "tst_HybridRealtimeTranscriptionService.moc"
