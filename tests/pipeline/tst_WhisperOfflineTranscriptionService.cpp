#include "support/FakeMonotonicClock.h"
#include "support/FakeWhisperEngineAdapter.h"
#include "support/FutureWait.h"
#include "support/LogCapture.h"
#include "support/TestError.h"
#include "support/WhisperModelWriter.h"

#include "models/ModelDescriptor.h"
#include "models/ModelManager.h"
#include "pipeline/TranscriptionServiceError.h"
#include "pipeline/WhisperCppEngineAdapter.h"
#include "pipeline/WhisperOfflineTranscriptionService.h"
#include "platform/fake/FakePlatform.h"
#include "support/FutureWatch.h"

#include <QtTest>

using namespace std::chrono_literals;

namespace {
void placeModel(ModelManager &manager, const ModelDescriptor &model)
{
    QDir().mkpath(manager.modelsDirectory());
    QFile file(QDir(manager.modelsDirectory()).filePath(model.id));
    QVERIFY(file.open(QIODevice::WriteOnly));
}
} // namespace

class tst_WhisperOfflineTranscriptionService : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void choosesTheModelForThePreference_data();
    void choosesTheModelForThePreference();
    void noModelAtAllFailsWithoutTouchingTheEngine();
    void engineLoadFailurePropagates();
    void liveHypothesesAndErrorsBecomePartialText();
    void finalTextFallsBackToTheLastHypothesis_data();
    void finalTextFallsBackToTheLastHypothesis();
    void finalizeIsCutOffAfterThirtySeconds();
    void runsOnTheRealEngine();

private:
    std::unique_ptr<WhisperOfflineTranscriptionService> makeService();

    std::unique_ptr<ModelManager> m_manager;
    std::shared_ptr<FakeWhisperEngineAdapter::Script> m_engine;
    FakeMonotonicClock m_clock;
};

void tst_WhisperOfflineTranscriptionService::init()
{
    FakePlatform::installNew();
    m_manager = std::make_unique<ModelManager>();
    m_engine = std::make_shared<FakeWhisperEngineAdapter::Script>();
}

void tst_WhisperOfflineTranscriptionService::cleanup()
{
    m_manager.reset();
}

std::unique_ptr<WhisperOfflineTranscriptionService> tst_WhisperOfflineTranscriptionService::makeService()
{
    return std::make_unique<WhisperOfflineTranscriptionService>(
        *m_manager, std::make_unique<FakeWhisperEngineAdapter>(m_engine), m_clock);
}

void tst_WhisperOfflineTranscriptionService::choosesTheModelForThePreference_data()
{
    QTest::addColumn<bool>("base");
    QTest::addColumn<bool>("large");
    QTest::addColumn<ASRModelPreference>("preference");
    QTest::addColumn<QString>("loaded"); // empty: missingASRModel

    QTest::newRow("both, parallel") << true << true << ASRModelPreference::parallelFast << "ggml-base.bin";
    QTest::newRow("both, large asked") << true << true << ASRModelPreference::whisperLargeV3 << "ggml-large-v3-q5_0.bin";
    QTest::newRow("only large, auto") << false << true << ASRModelPreference::auto_ << "ggml-large-v3-q5_0.bin";
    QTest::newRow("only large, base asked") << false << true << ASRModelPreference::whisperBase << "";
    QTest::newRow("only base, large asked") << true << false << ASRModelPreference::whisperLargeV3 << "";
    QTest::newRow("only base, cloud") << true << false << ASRModelPreference::cloudflareWhisper << "ggml-base.bin";
}

void tst_WhisperOfflineTranscriptionService::choosesTheModelForThePreference()
{
    QFETCH(bool, base);
    QFETCH(bool, large);
    QFETCH(ASRModelPreference, preference);
    QFETCH(QString, loaded);
    if (base)
        placeModel(*m_manager, ModelDescriptor::whisperBase());
    if (large)
        placeModel(*m_manager, ModelDescriptor::whisperLargeV3());
    LogCapture log;
    auto service = makeService();
    service->setPreferredASRModel(preference);
    QFuture<void> started = service->start(LanguageOption::english);
    QVERIFY(waitForFuture(started));

    if (loaded.isEmpty()) {
        const auto error = failureOf<TranscriptionServiceError>(started);
        QVERIFY(error);
        QCOMPARE(error->kind(), TranscriptionServiceError::Kind::missingASRModel);
        QVERIFY(log.contains(QStringLiteral("[DEBUG-85dc62] Transcription.start failed: requested ASR model "
                                            "unavailable preference=")
                             + Enums::toString(preference)));
        QVERIFY(m_engine->journal.isEmpty());
        QCOMPARE(service->activeASRModelName(), QStringLiteral("None"));
    } else {
        QVERIFY(!Futures::failureOf(started));
        QCOMPARE(m_engine->journal, QStringList { QStringLiteral("load ") + loaded });
        const QString name = loaded == ModelDescriptor::whisperBase().id ? ModelDescriptor::whisperBase().name
                                                                           : ModelDescriptor::whisperLargeV3().name;
        QCOMPARE(service->activeASRModelName(), name);
        QVERIFY(log.contains(QStringLiteral("Transcription.start model=%1 modelURL=").arg(name)));
    }
}

void tst_WhisperOfflineTranscriptionService::noModelAtAllFailsWithoutTouchingTheEngine()
{
    LogCapture log;
    auto service = makeService();
    QFuture<void> started = service->start(LanguageOption::english);
    QVERIFY(waitForFuture(started));
    const auto error = failureOf<TranscriptionServiceError>(started);
    QVERIFY(error);
    QCOMPARE(error->description(),
             QStringLiteral("No Whisper ASR model is installed. Please download Whisper Base or Whisper Large first."));
    QVERIFY(log.contains(QStringLiteral("[DEBUG-85dc62] Transcription.start failed: no installed ASR model")));
    QVERIFY(m_engine->journal.isEmpty());
}

void tst_WhisperOfflineTranscriptionService::engineLoadFailurePropagates()
{
    placeModel(*m_manager, ModelDescriptor::whisperBase());
    m_engine->loadError = std::make_shared<TestError>(QStringLiteral("cannot load"));
    auto service = makeService();
    QFuture<void> started = service->start(LanguageOption::english);
    QVERIFY(waitForFuture(started));
    QCOMPARE(describeException(Futures::failureOf(started)), QStringLiteral("cannot load"));
}

void tst_WhisperOfflineTranscriptionService::liveHypothesesAndErrorsBecomePartialText()
{
    placeModel(*m_manager, ModelDescriptor::whisperBase());
    auto service = makeService();
    QStringList partials;
    service->setOnPartialText([&](const QString &text) { partials.append(text); });
    QVERIFY(waitForFuture(service->start(LanguageOption::english)));

    m_engine->ingestResults = { std::nullopt, QStringLiteral("hello there") };
    QVERIFY(waitForFuture(service->appendAudioFrames(AudioSamples(1024, 0.1f))));
    QVERIFY(waitForFuture(service->appendAudioFrames(AudioSamples(1024, 0.1f))));
    QCOMPARE(partials, QStringList { QStringLiteral("hello there") });

    m_engine->ingestError = std::make_shared<TestError>(QStringLiteral("decode broke"));
    QFuture<void> failedAppend = service->appendAudioFrames(AudioSamples(1024, 0.1f));
    QVERIFY(waitForFuture(failedAppend));
    QVERIFY(!Futures::failureOf(failedAppend));
    QCOMPARE(partials.last(), QStringLiteral("Transcription error: decode broke"));
}

void tst_WhisperOfflineTranscriptionService::finalTextFallsBackToTheLastHypothesis_data()
{
    QTest::addColumn<std::optional<QString>>("hypothesis");
    QTest::addColumn<QString>("engineFinal"); // "!" makes finalize fail
    QTest::addColumn<QString>("expected");

    QTest::newRow("final text wins") << std::optional<QString>(QStringLiteral("live")) << "final words"
                                     << "final words";
    QTest::newRow("empty final keeps the hypothesis")
        << std::optional<QString>(QStringLiteral("live words")) << "" << "live words";
    QTest::newRow("failed final keeps the hypothesis")
        << std::optional<QString>(QStringLiteral("live words")) << "!" << "live words";
    // Silence is no text, not a bracketed language name that would be typed.
    QTest::newRow("nothing heard is empty") << std::optional<QString>() << "" << "";
    QTest::newRow("failure with nothing heard is empty") << std::optional<QString>() << "!" << "";
}

void tst_WhisperOfflineTranscriptionService::finalTextFallsBackToTheLastHypothesis()
{
    QFETCH(std::optional<QString>, hypothesis);
    QFETCH(QString, engineFinal);
    QFETCH(QString, expected);
    placeModel(*m_manager, ModelDescriptor::whisperBase());
    auto service = makeService();
    QVERIFY(waitForFuture(service->start(LanguageOption::japanese)));
    m_engine->ingestResults = { hypothesis };
    QVERIFY(waitForFuture(service->appendAudioFrames(AudioSamples(1024, 0.1f))));
    if (engineFinal == QLatin1String("!"))
        m_engine->finalizeError = std::make_shared<TestError>(QStringLiteral("final decode broke"));
    else
        m_engine->finalizeResults = { engineFinal };

    LogCapture log;
    QFuture<QString> stopped = service->stopAndFinalize();
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(stopped.result(), expected);
    if (engineFinal == QLatin1String("!"))
        QVERIFY(log.contains(QStringLiteral("Transcription.stopAndFinalize error=final decode broke, using last partial")));

    // The next start begins with no text of its own.
    QVERIFY(waitForFuture(service->start(LanguageOption::english)));
    m_engine->finalizeError.reset();
    m_engine->finalizeResults.clear();
    QFuture<QString> next = service->stopAndFinalize();
    QVERIFY(waitForFuture(next));
    QCOMPARE(next.result(), QString());
}

void tst_WhisperOfflineTranscriptionService::finalizeIsCutOffAfterThirtySeconds()
{
    placeModel(*m_manager, ModelDescriptor::whisperBase());
    auto service = makeService();
    QVERIFY(waitForFuture(service->start(LanguageOption::english)));
    m_engine->ingestResults = { QStringLiteral("what was heard live") };
    QVERIFY(waitForFuture(service->appendAudioFrames(AudioSamples(1024, 0.1f))));
    m_engine->holdFinalize = true;

    LogCapture log;
    QFuture<QString> stopped = service->stopAndFinalize();
    QTest::qWait(10);
    m_clock.advance(29s);
    QTest::qWait(10);
    QVERIFY(!stopped.isFinished());
    m_clock.advance(1s);
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(stopped.result(), QStringLiteral("what was heard live"));
    QVERIFY(log.contains(
        QStringLiteral("[DEBUG-85dc62] Transcription.stopAndFinalize timed out, using last partial: what was heard live")));

    // The engine's late answer changes nothing.
    QCOMPARE(m_engine->heldFinalizes.size(), 1);
    finishHeld(m_engine->heldFinalizes.first(), QStringLiteral("late words"));
    QTest::qWait(20);
    QCOMPARE(stopped.result(), QStringLiteral("what was heard live"));
}

void tst_WhisperOfflineTranscriptionService::runsOnTheRealEngine()
{
    QDir().mkpath(m_manager->modelsDirectory());
    const QString path = QDir(m_manager->modelsDirectory()).filePath(ModelDescriptor::whisperBase().id);
    QCOMPARE(WhisperModelWriter::writeTinyModel(path), QString());
    WhisperOfflineTranscriptionService service(*m_manager, std::make_unique<WhisperCppEngineAdapter>(m_clock),
                                               m_clock);
    service.setPreferredASRModel(ASRModelPreference::whisperBase);

    // Two sessions on the one engine: each start loads the model afresh.
    for (int session = 0; session < 2; ++session) {
        QFuture<void> started = service.start(LanguageOption::english);
        QVERIFY(waitForFuture(started, 30000));
        QVERIFY(!Futures::failureOf(started));
        AudioSamples tone(32000);
        for (qsizetype i = 0; i < tone.size(); ++i)
            tone[i] = 0.3f * float(std::sin(double(i) * 0.05));
        QVERIFY(waitForFuture(service.appendAudioFrames(tone), 30000));
        QFuture<QString> stopped = service.stopAndFinalize();
        QVERIFY(waitForFuture(stopped, 30000));
        QVERIFY(!stopped.result().startsWith(u'['));
    }
    QCOMPARE(service.activeASRModelName(), ModelDescriptor::whisperBase().name);
}

QTEST_GUILESS_MAIN(tst_WhisperOfflineTranscriptionService)
#include "tst_WhisperOfflineTranscriptionService.moc"
