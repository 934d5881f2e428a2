#include "pipeline/WhisperCppEngineAdapter.h"
#include "pipeline/WhisperCppError.h"

#include "support/FutureWait.h"
#include "support/LogCapture.h"
#include "support/FakeMonotonicClock.h"
#include "support/WhisperModelWriter.h"

#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(WhisperModelWriter::Damage)
Q_DECLARE_METATYPE(WhisperModelShape)

namespace {
using namespace std::chrono_literals;
using Damage = WhisperModelWriter::Damage;

// Deterministic speech-like audio: a few drifting tones with some noise.
AudioSamples syntheticAudio(int count, int seed = 7)
{
    AudioSamples samples(count);
    std::uint32_t state = 2463534242u + std::uint32_t(seed);
    for (int i = 0; i < count; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const double t = double(i) / kSampleRate;
        const double noise = double(state) / 4294967296.0 - 0.5;
        samples[i] = float(0.3 * std::sin(2 * M_PI * (180 + 40 * std::sin(t)) * t) + 0.2 * std::sin(2 * M_PI * 620 * t) + 0.05 * noise);
    }
    return samples;
}

template <typename T>
T await(QFuture<T> future)
{
    future.waitForFinished();
    if constexpr (!std::is_void_v<T>)
        return future.result();
}

// The kind of WhisperCppError the future failed with, or nothing when it succeeded.
template <typename T>
std::optional<WhisperCppError::Kind> failureKind(const QFuture<T> &future)
{
    const auto error = failureOf<WhisperCppError>(future);
    return error ? std::optional(error->kind()) : std::nullopt;
}

// One worker thread keeps the tiny model fast on a busy machine.
std::unique_ptr<WhisperCppEngineAdapter> makeAdapter(MonotonicClock &clock)
{
    return std::make_unique<WhisperCppEngineAdapter>(clock, [] { return 1; });
}
} // namespace

class tst_WhisperCppEngineAdapter : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void unusableFilesFailContextInit_data();
    void unusableFilesFailContextInit();
    void shapesOutsideTheWhisperFamilyAreRefused_data();
    void shapesOutsideTheWhisperFamilyAreRefused();
    void finalTextIsTrimmed();
    void libraryLogsComeThroughOurs();
    void loadStartsAFreshSession();
    void finalizeDecodesTheShortLastChunkToo();
    void sessionBufferKeepsTheNewestNinetySeconds();
    void liveDecodesFollowStrideAndInterval();
    void firstLiveDecodeIsNeverHeldBackByTheClock();
    void liveWindowKeepsTheNewestFourSeconds();
    void everyLanguageCodeIsAccepted();
    void destructionStopsTheWorkAndWaits();
    void anUnchangedFileIsReadOnce();
    void queuedLiveDecodesCollapseIntoTheNewest();
    void cancelledOrWaitedForDecodesStop();
    void fittedAudioContext_data();
    void fittedAudioContext();

private:
    FakeMonotonicClock m_clock;
    QTemporaryDir m_dir;
    QString m_model;
};

void tst_WhisperCppEngineAdapter::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_model = m_dir.filePath(QStringLiteral("ggml-tiny-test.bin"));
    QCOMPARE(WhisperModelWriter::writeTinyModel(m_model, 1), QString());
}

void tst_WhisperCppEngineAdapter::unusableFilesFailContextInit_data()
{
    // Files that whisper.cpp would abort on or accept; a missing, empty or
    // foreign file it refuses by itself.
    QTest::addColumn<Damage>("damage");
    QTest::newRow("cut in header") << Damage::truncatedInHeader;
    QTest::newRow("cut in vocabulary") << Damage::truncatedInVocabulary;
    QTest::newRow("implausible dimensions") << Damage::implausibleDimensions;
    QTest::newRow("no tensors") << Damage::noTensors;
}

void tst_WhisperCppEngineAdapter::unusableFilesFailContextInit()
{
    QFETCH(Damage, damage);
    const QString path = m_dir.filePath(QStringLiteral("unusable-") + QTest::currentDataTag());
    QCOMPARE(WhisperModelWriter::writeDamagedModel(path, damage), QString());

    auto adapter = makeAdapter(m_clock);
    QCOMPARE(failureKind(adapter->loadModel(path)), WhisperCppError::Kind::contextInitFailed);
    QCOMPARE(failureKind(adapter->ingest(syntheticAudio(30'000), LanguageOption::english)), WhisperCppError::Kind::notLoaded);
}

void tst_WhisperCppEngineAdapter::shapesOutsideTheWhisperFamilyAreRefused_data()
{
    // Well-formed files whose shapes whisper.cpp would try to allocate for,
    // and not survive the failure.
    QTest::addColumn<WhisperModelShape>("shape");
    QTest::newRow("text window of 65,536, 300 text layers")
        << WhisperModelShape{.textContext = 65'536, .textLayers = 300};
    QTest::newRow("text window of 449") << WhisperModelShape{.textContext = 449};
    QTest::newRow("100 mel bands") << WhisperModelShape{.mels = 100};
    QTest::newRow("foreign vocabulary") << WhisperModelShape{.vocabulary = 32'000};
}

void tst_WhisperCppEngineAdapter::shapesOutsideTheWhisperFamilyAreRefused()
{
    QFETCH(WhisperModelShape, shape);
    const QString path = m_dir.filePath(QStringLiteral("shape-") + QTest::currentDataTag());
    QCOMPARE(WhisperModelWriter::writeModel(path, shape, 1), QString());

    LogCapture log;
    auto adapter = makeAdapter(m_clock);
    QCOMPARE(failureKind(adapter->loadModel(path)), WhisperCppError::Kind::contextInitFailed);
    QVERIFY(log.contains(QStringLiteral("reason=implausible model dimensions")));
}

void tst_WhisperCppEngineAdapter::finalTextIsTrimmed()
{
    auto adapter = makeAdapter(m_clock);
    await(adapter->loadModel(m_model));
    await(adapter->ingest(syntheticAudio(3 * kSampleRate), LanguageOption::english));
    const QString text = await(adapter->finalize(LanguageOption::english));
    QVERIFY(!text.isEmpty());
    QCOMPARE(text, text.trimmed()); // whisper.cpp starts its segments with a space
}

void tst_WhisperCppEngineAdapter::libraryLogsComeThroughOurs()
{
    LogCapture log;
    auto adapter = makeAdapter(m_clock);
    await(adapter->loadModel(m_model));
    const QStringList library = log.linesStartingWith(QStringLiteral("[DEBUG-85dc62] whisper.cpp: "));
    QVERIFY(!library.isEmpty());
    for (const QString &line : library)
        QVERIFY2(!line.endsWith(QLatin1Char('\n')), qPrintable(line)); // one event per line
}

void tst_WhisperCppEngineAdapter::loadStartsAFreshSession()
{
    LogCapture log;
    auto adapter = makeAdapter(m_clock);
    await(adapter->loadModel(m_model));
    QVERIFY(await(adapter->ingest(syntheticAudio(30'000), LanguageOption::english)).has_value());
    await(adapter->loadModel(m_model));
    log.clear();
    QCOMPARE(await(adapter->finalize(LanguageOption::english)), QString()); // no samples, no old text
    QCOMPARE(log.lines().filter(QStringLiteral("WhisperCpp.finalize")).size(), 0);
}

void tst_WhisperCppEngineAdapter::finalizeDecodesTheShortLastChunkToo()
{
    auto adapter = makeAdapter(m_clock);
    await(adapter->loadModel(m_model));
    await(adapter->ingest(syntheticAudio(500'000), LanguageOption::english));
    LogCapture log;
    QVERIFY(!await(adapter->finalize(LanguageOption::english)).isEmpty());
    QVERIFY(log.contains(QStringLiteral("WhisperCpp.finalize chunk offset=480000/500000")));
}

void tst_WhisperCppEngineAdapter::sessionBufferKeepsTheNewestNinetySeconds()
{
    // 20 s of one sound, then 90 s of another in capture-sized pieces: finalize
    // must hear exactly what a session of only the last 90 s hears.
    const AudioSamples early = syntheticAudio(20 * kSampleRate, 1);
    const AudioSamples kept = syntheticAudio(90 * kSampleRate, 2);
    FakeMonotonicClock clock;
    auto adapter = makeAdapter(clock);

    await(adapter->loadModel(m_model));
    await(adapter->ingest(kept, LanguageOption::english));
    const QString expected = await(adapter->finalize(LanguageOption::english));

    await(adapter->loadModel(m_model));
    await(adapter->ingest(early, LanguageOption::english));
    for (qsizetype offset = 0; offset < kept.size(); offset += 1024)
        adapter->ingest(kept.mid(offset, 1024), LanguageOption::english);
    LogCapture log;
    QCOMPARE(await(adapter->finalize(LanguageOption::english)), expected);
    QCOMPARE(log.lines().filter(QStringLiteral("WhisperCpp.finalize chunk")).size(), 3);
    QVERIFY(log.contains(QStringLiteral("offset=960000/1440000")));
}

void tst_WhisperCppEngineAdapter::liveDecodesFollowStrideAndInterval()
{
    FakeMonotonicClock clock;
    auto adapter = makeAdapter(clock);
    await(adapter->loadModel(m_model));
    auto ingest = [&](int count) { return await(adapter->ingest(syntheticAudio(count), LanguageOption::english)).has_value(); };

    QVERIFY(!ingest(8'000)); // window too short
    clock.advance(1200ms);
    QVERIFY(!ingest(8'000));
    clock.advance(1200ms);
    QVERIFY(ingest(8'000)); // 24,000 samples, all new
    clock.advance(1000ms);
    QVERIFY(!ingest(16'000)); // enough audio, too soon
    clock.advance(200ms);
    QVERIFY(ingest(100)); // 1.2 s after the last start
    clock.advance(5s);
    QVERIFY(!ingest(15'000)); // late enough, too little new audio
    QVERIFY(ingest(1'000));
}

void tst_WhisperCppEngineAdapter::firstLiveDecodeIsNeverHeldBackByTheClock()
{
    // A reading near the clock's origin must not look like "just decoded".
    FakeMonotonicClock clock { MonotonicClock::Duration::zero() }; // reads its origin forever
    auto adapter = makeAdapter(clock);
    await(adapter->loadModel(m_model));
    QVERIFY(await(adapter->ingest(syntheticAudio(24'000), LanguageOption::english)).has_value());
    // and a reload forgets the previous session's decode time
    await(adapter->loadModel(m_model));
    QVERIFY(await(adapter->ingest(syntheticAudio(24'000), LanguageOption::english)).has_value());
}

void tst_WhisperCppEngineAdapter::liveWindowKeepsTheNewestFourSeconds()
{
    const AudioSamples longBurst = syntheticAudio(100'000, 3);
    auto liveText = [&](const AudioSamples &audio) {
        auto adapter = makeAdapter(m_clock);
        await(adapter->loadModel(m_model));
        return await(adapter->ingest(audio, LanguageOption::english));
    };
    const std::optional<QString> fromBurst = liveText(longBurst);
    QVERIFY(fromBurst.has_value());
    QCOMPARE(liveText(longBurst.last(64'000)), fromBurst);
}

void tst_WhisperCppEngineAdapter::everyLanguageCodeIsAccepted()
{
    auto adapter = makeAdapter(m_clock);
    await(adapter->loadModel(m_model));
    await(adapter->ingest(syntheticAudio(10'000), LanguageOption::english));
    for (LanguageOption language : Enums::allCases<LanguageOption>())
        QCOMPARE(failureKind(adapter->finalize(language)), std::nullopt);
}

void tst_WhisperCppEngineAdapter::destructionStopsTheWorkAndWaits()
{
    QFuture<void> load;
    QFuture<QString> finalText;
    {
        auto adapter = makeAdapter(m_clock);
        load = adapter->loadModel(m_model);
        adapter->ingest(syntheticAudio(WhisperCppEngineAdapter::maxSessionSamples), LanguageOption::english);
        finalText = adapter->finalize(LanguageOption::english);
    }
    QVERIFY(load.isFinished());
    QVERIFY(finalText.isFinished());
    QVERIFY(finalText.isCanceled()); // no text pretends to be the whole recording's
}

void tst_WhisperCppEngineAdapter::anUnchangedFileIsReadOnce()
{
    WhisperCppEngineAdapter::ModelCache models;
    WhisperCppEngineAdapter first(m_clock, [] { return 1; }, models);
    WhisperCppEngineAdapter second(m_clock, [] { return 1; }, models);
    const QString copy = m_dir.filePath(QStringLiteral("changing.bin"));
    QVERIFY(QFile::copy(m_model, copy));
    LogCapture log;
    await(first.loadModel(copy));
    await(first.loadModel(copy));
    await(second.loadModel(copy)); // shared, not a second copy in memory
    QCOMPARE(log.lines().filter(QStringLiteral("loadModel success")).size(), 1);
    QCOMPARE(log.lines().filter(QStringLiteral("loadModel reusing the loaded model")).size(), 2);

    // A new file under the same name is read again, and a broken one is remembered.
    QCOMPARE(WhisperModelWriter::writeDamagedModel(copy, Damage::truncatedMidTensor), QString());
    QCOMPARE(failureKind(first.loadModel(copy)), WhisperCppError::Kind::contextInitFailed);
    QCOMPARE(failureKind(first.finalize(LanguageOption::english)), WhisperCppError::Kind::notLoaded); // the old model is gone
    QVERIFY(models.failedToLoad(copy));
    QVERIFY(QFile::remove(copy) && QFile::copy(m_model, copy));
    QVERIFY(!models.failedToLoad(copy));
    log.clear();
    await(first.loadModel(copy));
    QCOMPARE(log.lines().filter(QStringLiteral("loadModel success")).size(), 1);
}

void tst_WhisperCppEngineAdapter::queuedLiveDecodesCollapseIntoTheNewest()
{
    // Batches queued behind a slow operation (here the first load of a file):
    // only the newest may decode, so the engine never works through a backlog.
    WhisperCppEngineAdapter::ModelCache models;
    WhisperCppEngineAdapter adapter(m_clock, [] { return 1; }, models);
    LogCapture log;
    adapter.loadModel(m_model);
    QList<QFuture<std::optional<QString>>> live;
    for (int i = 0; i < 4; ++i)
        live.append(adapter.ingest(syntheticAudio(24'000, i), LanguageOption::english));
    QVERIFY(await(live.last()).has_value());
    for (int i = 0; i < 3; ++i)
        QVERIFY(!await(live[i]).has_value());
    QCOMPARE(log.lines().filter(QStringLiteral("WhisperCpp.partial")).size(), 1);
}

void tst_WhisperCppEngineAdapter::cancelledOrWaitedForDecodesStop()
{
    WhisperCppEngineAdapter::ModelCache models;
    auto adapter = std::make_unique<WhisperCppEngineAdapter>(m_clock, [] { return 1; }, models);
    LogCapture log;
    // A waiting finalize takes the engine from a live decode.
    adapter->loadModel(m_model);
    QFuture<std::optional<QString>> live = adapter->ingest(syntheticAudio(24'000), LanguageOption::english);
    QFuture<QString> finalText = adapter->finalize(LanguageOption::english);
    QVERIFY(!await(live).has_value());
    QVERIFY(!await(finalText).isEmpty());
    QCOMPARE(log.lines().filter(QStringLiteral("WhisperCpp.partial")).size(), 0);

    // A cancelled finalize stops at once instead of decoding its three chunks.
    await(adapter->loadModel(m_model));
    await(adapter->ingest(syntheticAudio(WhisperCppEngineAdapter::maxSessionSamples), LanguageOption::english));
    log.clear();
    QFuture<QString> cancelled = adapter->finalize(LanguageOption::english);
    cancelled.cancel();
    await(adapter->loadModel(m_model));
    QCOMPARE(log.lines().filter(QStringLiteral("WhisperCpp.finalize chunk")).size(), 0);
}

void tst_WhisperCppEngineAdapter::fittedAudioContext_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("context");
    QTest::newRow("a moment") << 100 << 64;
    QTest::newRow("four seconds") << 64'000 << 256;
    QTest::newRow("just over a step") << 64 * 320 + 1 << 128;
    QTest::newRow("fifteen seconds") << 240'000 << 768;
    QTest::newRow("whole window") << 480'000 << 0;
}

void tst_WhisperCppEngineAdapter::fittedAudioContext()
{
    QFETCH(int, samples);
    QFETCH(int, context);
    QCOMPARE(WhisperCppEngineAdapter::fittedAudioContext(std::size_t(samples)), context);
}

QTEST_GUILESS_MAIN(tst_WhisperCppEngineAdapter)
#include "tst_WhisperCppEngineAdapter.moc"
