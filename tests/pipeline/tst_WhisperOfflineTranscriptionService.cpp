#include "support/FakeMonotonicClock.h"
#include "support/FakeWhisperEngineAdapter.h"
#include "support/FutureWait.h"
#include "support/LogCapture.h"
#include "support/TestError.h"

#include "models/ModelDescriptor.h"
#include "models/ModelManager.h"
#include "pipeline/TranscriptionServiceError.h"
#include "pipeline/WhisperOfflineTranscriptionService.h"
#include "platform/fake/FakePlatform.h"
#include "support/FutureWatch.h"

#include <QtTest>

using namespace std::chrono_literals;

namespace {
bool placeModel(ModelManager &manager, const ModelDescriptor &model, qint64 size = ModelManager::minimumModelBytes)
{
    QDir().mkpath(manager.modelsDirectory());
    QFile file(QDir(manager.modelsDirectory()).filePath(model.id));
    return file.open(QIODevice::WriteOnly) && file.resize(size);
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
    m_manager = std::make_unique<ModelManager>(FakePlatform::installNew().paths());
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
    if (!placeModel(*m_manager, ModelDescriptor::whisperBase())
        || !waitForFuture(m_service->start(LanguageOption::english)))
        return false;
    m_engine->ingestResults = { hypothesis };
    return waitForFuture(m_service->appendAudioFrames(AudioSamples(1024, 0.1f)));
}

void tst_WhisperOfflineTranscriptionService::choosesTheModelForThePreference_data()
{
    using P = ASRModelPreference;
    QTest::addColumn<qint64>("base"); // size of each model file; 0: none
    QTest::addColumn<qint64>("large");
    QTest::addColumn<ASRModelPreference>("preference");
    QTest::addColumn<QString>("loaded"); // the model file loaded; empty: the start fails
    const qint64 whole = ModelManager::minimumModelBytes;

    QTest::newRow("both, parallel") << whole << whole << P::parallelFast << "ggml-base.bin";
    QTest::newRow("only large, auto") << 0ll << whole << P::auto_ << "ggml-large-v3-q5_0.bin";
    QTest::newRow("none") << 0ll << 0ll << P::auto_ << "";
    // A truncated download is no model, though a file of its name exists.
    QTest::newRow("truncated base, auto") << whole - 1 << whole << P::auto_ << "ggml-large-v3-q5_0.bin";
}

void tst_WhisperOfflineTranscriptionService::choosesTheModelForThePreference()
{
    QFETCH(qint64, base);
    QFETCH(qint64, large);
    QFETCH(ASRModelPreference, preference);
    QFETCH(QString, loaded);
    const ModelDescriptor models[] = { ModelDescriptor::whisperBase(), ModelDescriptor::whisperLargeV3() };
    if (base)
        QVERIFY(placeModel(*m_manager, models[0], base));
    if (large)
        QVERIFY(placeModel(*m_manager, models[1], large));
    m_service->setPreferredASRModel(preference);
    QFuture<void> started = m_service->start(LanguageOption::english);
    QVERIFY(waitForFuture(started));

    if (loaded.isEmpty()) {
        const auto error = failureOf<TranscriptionServiceError>(started);
        QVERIFY(error);
        QCOMPARE(error->kind(), TranscriptionServiceError::Kind::missingASRModel);
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
    QVERIFY(placeModel(*m_manager, ModelDescriptor::whisperBase()));
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
    LogCapture log;
    QLoggingCategory::setFilterRules(QStringLiteral("tavrune.text.debug=true")); // words logged on demand
    QVERIFY(waitForFuture(m_service->appendAudioFrames(AudioSamples(1024, 0.1f))));
    QLoggingCategory::setFilterRules({});
    QCOMPARE(partials, QStringList { QStringLiteral("hello there") });
    QVERIFY(log.contains(QStringLiteral("Transcription.partial=hello there")));

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

    QFuture<QString> stopped = m_service->stopAndFinalize();
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(stopped.result(), expected);

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
    LogCapture log;
    QVERIFY(startWithBase(QStringLiteral("quokka marmalade picnic")));
    m_engine->holdFinalize = true;
    QFuture<QString> stopped = m_service->stopAndFinalize();
    QFuture<QString> strict = m_service->finalTranscript();
    m_clock.advance(29s);
    QTest::qWait(10);
    QVERIFY(!stopped.isFinished());
    m_clock.advance(1s);
    QVERIFY(waitForFuture(stopped));
    QCOMPARE(stopped.result(), QStringLiteral("quokka marmalade picnic"));
    // The user's words stay out of the log: only their length is there.
    QVERIFY(log.lines().filter(QRegularExpression("quokka|marmalade|picnic")).isEmpty());
    QVERIFY(log.contains(QStringLiteral("timed out, using last partial: <23 chars>")));
    // The whole-session text has no fallback: running late is its failure.
    QVERIFY(waitForFuture(strict));
    QCOMPARE(failureOf<TranscriptionServiceError>(strict)->kind(), TranscriptionServiceError::Kind::finalizeTimedOut);

    // The engine is asked to give up the decode.
    QVERIFY(m_engine->heldFinalizes.first()->isCanceled());
}

QTEST_GUILESS_MAIN(tst_WhisperOfflineTranscriptionService)
#include "tst_WhisperOfflineTranscriptionService.moc"
