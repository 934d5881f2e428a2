#include "pipeline/WhisperCppEngineAdapter.h"
#include "pipeline/WhisperCppError.h"

#include "support/FutureWait.h"
#include "support/LogCapture.h"
#include "support/FakeMonotonicClock.h"
#include "support/WhisperModelWriter.h"

#include <QtTest>

#include <cmath>
#include <functional>

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

// Tiny models decode fast enough for tests; no published model is that small.
WhisperCppEngineAdapter::ModelCache &tinyModels()
{
    static WhisperCppEngineAdapter::ModelCache models(WhisperModelShape::tinyFamily());
    return models;
}

// One worker thread keeps the tiny model fast on a busy machine.
std::unique_ptr<WhisperCppEngineAdapter> makeAdapter(MonotonicClock &clock,
                                                     WhisperCppEngineAdapter::ModelCache &models = tinyModels())
{
    return std::make_unique<WhisperCppEngineAdapter>(clock, [] { return 1; }, models);
}

// The smallest published width on one layer each, quantised: a complete file
// of a real model's shape in some 18 MB.
WhisperModelShape smallestPublished()
{
    return {.state = 384, .heads = 6, .textContext = 448, .weights = WhisperModelShape::Weights::q5_0};
}

WhisperModelShape with(WhisperModelShape shape, const std::function<void(WhisperModelShape &)> &change)
{
    change(shape);
    return shape;
}
} // namespace

class tst_WhisperCppEngineAdapter : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void unusableFilesFailContextInit_data();
    void unusableFilesFailContextInit();
    void onlyTheWhisperFamilysShapesLoad_data();
    void onlyTheWhisperFamilysShapesLoad();
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
    QTest::newRow("mel filters over 2,000 bins") << Damage::foreignMelFilters; // every decode would overrun
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

void tst_WhisperCppEngineAdapter::onlyTheWhisperFamilysShapesLoad_data()
{
    // Complete files of the published models' shapes load; one field off
    // and whisper.cpp would write past its buffers, fail every decode or try
    // to allocate more than there is.
    using Weights = WhisperModelShape::Weights;
    QTest::addColumn<WhisperModelShape>("shape");
    QTest::addColumn<QString>("refusal"); // empty: loads

    const WhisperModelShape small = smallestPublished();
    QTest::newRow("smallest published width") << small << QString();
    QTest::newRow("distilled, English-only: 2 text layers")
        << with(small, [](auto &s) { s.vocabulary = 51864; s.textLayers = 2; }) << QString();
    QTest::newRow("large v3, q5_0") << WhisperModelShape::largeV3(Weights::q5_0) << QString();
    QTest::newRow("large v3, q8_0") << WhisperModelShape::largeV3(Weights::q8_0) << QString();
    QTest::newRow("turbo: 4 text layers, q5_0")
        << with(WhisperModelShape::largeV3(Weights::q5_0), [](auto &s) { s.textLayers = 4; }) << QString();

    for (int context : {1, 2, 4, 449}) {
        QTest::addRow("text context %d", context)
            << with(small, [&](auto &s) { s.textContext = context; })
            << QStringLiteral("a text context of %1 where Whisper models have 448").arg(context);
    }
    for (int context : {1, 7}) {
        QTest::addRow("audio context %d", context)
            << with(small, [&](auto &s) { s.audioContext = context; })
            << QStringLiteral("an audio context of %1 where").arg(context);
    }
    QTest::newRow("width 1 per head") << with(small, [](auto &s) { s.heads = s.state; })
                                      << QStringLiteral("a width of 384 with 384 heads");
    QTest::newRow("text context of 65,536, 300 text layers")
        << WhisperModelShape{.textContext = 65'536, .textLayers = 300} << QStringLiteral("a text context of 65536");
    QTest::newRow("100 mel bands") << with(small, [](auto &s) { s.mels = 100; })
                                   << QStringLiteral("100 mel bands where Whisper models have 80 or 128");
    QTest::newRow("foreign vocabulary") << with(small, [](auto &s) { s.vocabulary = 32'000; })
                                        << QStringLiteral("a vocabulary of 32000 tokens");
    // whisper.cpp sizes the decoder's attention by the encoder's heads and aborts
    QTest::newRow("7 text heads to 6 audio heads")
        << with(small, [](auto &s) { s.textHeads = 7; })
        << QStringLiteral("an encoder of width 384 with 6 heads and a decoder of width 384 with 7 heads");
    for (int layers : {0, 33}) {
        QTest::addRow("%d text layers", layers)
            << with(small, [&](auto &s) { s.textLayers = layers; })
            << QStringLiteral("1 encoder and %1 decoder layers where Whisper models have 1 to 32").arg(layers);
    }
    QTest::newRow("mel filters over 200 bins")
        << with(small, [](auto &s) { s.filterBins = 200; })
        << QStringLiteral("mel filters over 200 frequency bins where Whisper models have 201");
    QTest::newRow("weight type 5, which whisper.cpp aborts on")
        << with(small, [](auto &s) { s.fileType = 5; }) << QStringLiteral("an unknown weight type (5)");

    // whisper.cpp refuses each of these only after reading the data before them
    using Fault = WhisperModelShape::TensorFault::Kind;
    const auto faulty = [&](Fault kind, const char *tensor) {
        return with(small, [&](auto &s) { s.tensorFault = {kind, tensor}; });
    };
    QTest::newRow("a tensor missing")
        << faulty(Fault::missing, "decoder.blocks.0.cross_attn.key.weight")
        << QStringLiteral("tensor decoder.blocks.0.cross_attn.key.weight is missing");
    QTest::newRow("an unknown tensor added")
        << faulty(Fault::added, "decoder.blocks.0.cross_attn.key.bias")
        << QStringLiteral("an unexpected tensor decoder.blocks.0.cross_attn.key.bias");
    QTest::newRow("a matrix of another type")
        << faulty(Fault::f32, "encoder.blocks.0.mlp.0.weight")
        << QStringLiteral("tensor encoder.blocks.0.mlp.0.weight stored as f32 where the header calls for q5_0");
    QTest::newRow("a matrix transposed") // as many elements, other dimensions
        << faulty(Fault::transposed, "decoder.blocks.0.mlp.2.weight")
        << QStringLiteral("tensor decoder.blocks.0.mlp.2.weight of shape 384×1536 where the header calls for 1536×384");
}

void tst_WhisperCppEngineAdapter::onlyTheWhisperFamilysShapesLoad()
{
    QFETCH(WhisperModelShape, shape);
    QFETCH(QString, refusal);
    const QString path = m_dir.filePath(QStringLiteral("shape.bin"));
    QCOMPARE(WhisperModelWriter::writeModel(path, shape, 1), QString());
    const auto removeFile = qScopeGuard([&] { QFile::remove(path); }); // up to 150 MB each

    LogCapture log;
    WhisperCppEngineAdapter::ModelCache published;
    auto adapter = makeAdapter(m_clock, published);
    const auto failure = failureKind(adapter->loadModel(path));
    if (refusal.isEmpty()) {
        QCOMPARE(failure, std::nullopt);
    } else {
        QCOMPARE(failure, WhisperCppError::Kind::contextInitFailed);
        QVERIFY2(log.contains(QStringLiteral("reason=") + refusal), qPrintable(log.lines().join(u'\n')));
    }
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
    WhisperCppEngineAdapter::ModelCache models(WhisperModelShape::tinyFamily());
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
    WhisperCppEngineAdapter::ModelCache models(WhisperModelShape::tinyFamily());
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
    WhisperCppEngineAdapter::ModelCache models(WhisperModelShape::tinyFamily());
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
