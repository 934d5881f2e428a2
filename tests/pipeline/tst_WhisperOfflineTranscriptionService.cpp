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
    void engineLoadFailurePropagates();
    void liveHypothesesAndErrorsBecomePartialText();
    void finalTextFallsBackToTheLastHypothesis_data();
    void finalTextFallsBackToTheLastHypothesis();
    void finalizeIsCutOffAfterThirtySeconds();
    void runsOnTheRealEngine();

private:
    // A started service on the Base model, with one batch fed that yields the given hypothesis.
    bool startWithBase(std::optional<QString> hypothesis);

    std::unique_ptr<ModelManager> m_manager;
    std::shared_ptr<FakeWhisperEngineAdapter::Script> m_engine;
    FakeMonotonicClock m_clock;
    std::unique_ptr<WhisperOfflineTranscriptionService> m_service;
};

void tst_WhisperOfflineTranscriptionService::init()
{
    FakePlatform::installNew();
    m_manager = std::make_unique<ModelManager>();
    m_engine = std::make_shared<FakeWhisperEngineAdapter::Script>();
    m_service = std::make_unique<WhisperOfflineTranscriptionService>(
        *m_manager, std::make_unique<FakeWhisperEngineAdapter>(m_engine), m_clock);
}

void tst_WhisperOfflineTranscriptionService::cleanup()
{
    m_service.reset();
    m_manager.reset();
}

bool tst_WhisperOfflineTranscriptionService::startWithBase(std::optional<QString> hypothesis)
{
    placeModel(*m_manager, ModelDescriptor::whisperBase());
    if (!waitForFuture(m_service->start(LanguageOption::english)))
        return false;
    m_engine->ingestResults = { hypothesis };
    return waitForFuture(m_service->appendAudioFrames(AudioSamples(1024, 0.1f)));
}

void tst_WhisperOfflineTranscriptionService::choosesTheModelForThePreference_data()
{
    using P = ASRModelPreference;
    QTest::addColumn<bool>("base");
    QTest::addColumn<bool>("large");
    QTest::addColumn<ASRModelPreference>("preference");
    QTest::addColumn<QString>("loaded"); // a model file name, or the failure's log line
    const QString unavailable =
        QStringLiteral("Transcription.start failed: requested ASR model unavailable preference=");

    QTest::newRow("both, parallel") << true << true << P::parallelFast << "ggml-base.bin";
    QTest::newRow("both, large asked") << true << true << P::whisperLargeV3 << "ggml-large-v3-q5_0.bin";
    QTest::newRow("only large, auto") << false << true << P::auto_ << "ggml-large-v3-q5_0.bin";
    QTest::newRow("only large, base asked") << false << true << P::whisperBase << unavailable + "whisperBase";
    QTest::newRow("only base, large asked") << true << false << P::whisperLargeV3 << unavailable + "whisperLargeV3";
    QTest::newRow("none") << false << false << P::auto_ << "Transcription.start failed: no installed ASR model";
}

void tst_WhisperOfflineTranscriptionService::choosesTheModelForThePreference()
{
    QFETCH(bool, base);
    QFETCH(bool, large);
    QFETCH(ASRModelPreference, preference);
    QFETCH(QString, loaded);
    const ModelDescriptor models[] = { ModelDescriptor::whisperBase(), ModelDescriptor::whisperLargeV3() };
    if (base)
        placeModel(*m_manager, models[0]);
    if (large)
        placeModel(*m_manager, models[1]);
    LogCapture log;
    m_service->setPreferredASRModel(preference);
    QFuture<void> started = m_service->start(LanguageOption::english);
    QVERIFY(waitForFuture(started));

    if (!loaded.endsWith(QLatin1String(".bin"))) {
        const auto error = failureOf<TranscriptionServiceError>(started);
        QVERIFY(error);
        QCOMPARE(error->kind(), TranscriptionServiceError::Kind::missingASRModel);
        QVERIFY(log.contains(QStringLiteral("[DEBUG-85dc62] ") + loaded));
        QVERIFY(m_engine->journal.isEmpty());
        QCOMPARE(m_service->activeASRModelName(), QStringLiteral("None"));
    } else {
        QVERIFY(!Futures::failureOf(started));
        QCOMPARE(m_engine->journal, QStringList { QStringLiteral("load ") + loaded });
        QCOMPARE(m_service->activeASRModelName(), (loaded == models[0].id ? models[0] : models[1]).name);
    }
}

void tst_WhisperOfflineTranscriptionService::engineLoadFailurePropagates()
{
    placeModel(*m_manager, ModelDescriptor::whisperBase());
    m_engine->loadError = std::make_shared<TestError>(QStringLiteral("cannot load"));
    QFuture<void> started = m_service->start(LanguageOption::english);
    QVERIFY(waitForFuture(started));
    QCOMPARE(describeException(Futures::failureOf(started)), QStringLiteral("cannot load"));
}

void tst_WhisperOfflineTranscriptionService::liveHypothesesAndErrorsBecomePartialText()
{
    QStringList partials;
    m_service->setOnPartialText([&](const QString &text) { partials.append(text); });
    QVERIFY(startWithBase(std::nullopt));
    QVERIFY(partials.isEmpty());
    m_engine->ingestResults = { QStringLiteral("hello there") };
    QVERIFY(waitForFuture(m_service->appendAudioFrames(AudioSamples(1024, 0.1f))));
    QCOMPARE(partials, QStringList { QStringLiteral("hello there") });

    m_engine->ingestError = std::make_shared<TestError>(QStringLiteral("decode broke"));
    QFuture<void> failedAppend = m_service->appendAudioFrames(AudioSamples(1024, 0.1f));
    QVERIFY(waitForFuture(failedAppend));
    QVERIFY(!Futures::failureOf(failedAppend));
    QCOMPARE(partials.last(), QStringLiteral("Transcription error: decode broke"));
}

void tst_WhisperOfflineTranscriptionService::finalTextFallsBackToTheLastHypothesis_data()
{
    QTest::addColumn<std::optional<QString>>("hypothesis");
    QTest::addColumn<QString>("engineFinal"); // "!" makes finalize fail
    QTest::addColumn<QString>("expected");

    const std::optional<QString> live(QStringLiteral("live words"));
    QTest::newRow("final text wins") << live << "final words" << "final words";
    QTest::newRow("empty final keeps the hypothesis") << live << "" << "live words";
    QTest::newRow("failed final keeps the hypothesis") << live << "!" << "live words";
    // Silence is no text, not a bracketed language name that would be typed.
    QTest::newRow("nothing heard is empty") << std::optional<QString>() << "" << "";
    QTest::newRow("failure with nothing heard is empty") << std::optional<QString>() << "!" << "";
}

void tst_WhisperOfflineTranscriptionService::finalTextFallsBackToTheLastHypothesis()
{
    QFETCH(std::optional<QString>, hypothesis);
    QFETCH(QString, engineFinal);
    QFETCH(QString, expected);
    QVERIFY(startWithBase(hypothesis));
    if (engineFinal == QLatin1String("!"))
        m_engine->finalizeError = std::make_shared<TestError>(QStringLiteral("final decode broke"));
    else
        m_engine->finalizeResults = { engineFinal };

    LogCapture log;
    QFuture<QString> stopped = m_service->stopAndFinalize();
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(stopped.result(), expected);
    if (engineFinal == QLatin1String("!"))
        QVERIFY(log.contains(
            QStringLiteral("Transcription.stopAndFinalize error=final decode broke, using last partial")));

    // The next start begins with no text of its own.
    QVERIFY(waitForFuture(m_service->start(LanguageOption::english)));
    m_engine->finalizeError.reset();
    m_engine->finalizeResults.clear();
    QFuture<QString> next = m_service->stopAndFinalize();
    QVERIFY(waitForFuture(next));
    QCOMPARE(next.result(), QString());
}

void tst_WhisperOfflineTranscriptionService::finalizeIsCutOffAfterThirtySeconds()
{
    QVERIFY(startWithBase(QStringLiteral("what was heard live")));
    m_engine->holdFinalize = true;
    LogCapture log;
    QFuture<QString> stopped = m_service->stopAndFinalize();
    QTest::qWait(10);
    m_clock.advance(29s);
    QTest::qWait(10);
    QVERIFY(!stopped.isFinished());
    m_clock.advance(1s);
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(stopped.result(), QStringLiteral("what was heard live"));
    QVERIFY(log.contains(
        QStringLiteral("[DEBUG-85dc62] Transcription.stopAndFinalize timed out, using last partial: what was heard live")));

    // The engine is told to stop decoding, and its late answer changes nothing.
    QCOMPARE(m_engine->heldFinalizes.size(), 1);
    QVERIFY(m_engine->heldFinalizes.first()->isCanceled());
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

    AudioSamples tone(32000);
    for (qsizetype i = 0; i < tone.size(); ++i)
        tone[i] = 0.3f * float(std::sin(double(i) * 0.05));
    // Two sessions on the one engine: each start loads the model afresh.
    for (int session = 0; session < 2; ++session) {
        QFuture<void> started = service.start(LanguageOption::english);
        QVERIFY(waitForFuture(started, 30000));
        QVERIFY(!Futures::failureOf(started));
        QVERIFY(waitForFuture(service.appendAudioFrames(tone), 30000));
        QFuture<QString> stopped = service.stopAndFinalize();
        QVERIFY(waitForFuture(stopped, 30000));
        QVERIFY(!stopped.result().startsWith(u'['));
    }
    QCOMPARE(service.activeASRModelName(), ModelDescriptor::whisperBase().name);
}

QTEST_GUILESS_MAIN(tst_WhisperOfflineTranscriptionService)
#include "tst_WhisperOfflineTranscriptionService.moc"
