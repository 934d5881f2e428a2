// Times WhisperCppEngineAdapter against whisper-cli from the same whisper.cpp
// build on a random-weight model of Whisper Base's shape and 11 s of real
// speech: the final decode (load + finalize vs. one whole CLI run, same thread
// count, greedy), and one live 4 s window decode next to the live pacing interval.
#include "pipeline/WhisperCppEngineAdapter.h"
#include "support/FakeMonotonicClock.h"
#include "support/WhisperModelWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {
double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QString withoutSpaces(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    return text;
}

double millisecondsOf(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "bench_whisper: %s\n", qPrintable(message));
    std::exit(1);
}

// 16-bit PCM mono WAV as whisper-cli reads it (sample / 32768).
AudioSamples readWav(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1").arg(path));
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        fail(QStringLiteral("%1 is not a WAV file").arg(path));
    qsizetype pos = 12;
    while (pos + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(pos, 4);
        quint32 size = 0;
        std::memcpy(&size, bytes.constData() + pos + 4, 4);
        pos += 8;
        if (id == "data") {
            const qsizetype count = std::min<qsizetype>(size, bytes.size() - pos) / 2;
            AudioSamples samples(count);
            for (qsizetype i = 0; i < count; ++i) {
                qint16 value = 0;
                std::memcpy(&value, bytes.constData() + pos + 2 * i, 2);
                samples[i] = float(value) / 32768.0f;
            }
            return samples;
        }
        pos += size + (size & 1);
    }
    fail(QStringLiteral("%1 has no data chunk").arg(path));
}

void prepare(const QString &model, const WhisperModelShape &shape, const QString &wav)
{
    if (!QFile::exists(model)) {
        std::printf("generating a random-weight model (once) ...\n");
        std::fflush(stdout);
        const QString error = WhisperModelWriter::writeModel(model, shape, 20240611);
        if (!error.isEmpty())
            fail(QStringLiteral("cannot write %1: %2").arg(model, error));
    }
    if (!QFile::exists(wav)) {
        const int status = QProcess::execute(QStringLiteral("sox"),
            {QStringLiteral(WHISPER_SAMPLE_MP3), QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"),
             QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), wav});
        if (status != 0)
            fail(QStringLiteral("sox could not convert %1 (is libsox-fmt-mp3 installed?)").arg(QStringLiteral(WHISPER_SAMPLE_MP3)));
    }
}

template <typename T>
T resultOf(QFuture<T> future)
{
    future.waitForFinished(); // rethrows a failure
    if constexpr (!std::is_void_v<T>)
        return future.result();
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    const int runs = std::max(1, qEnvironmentVariableIntValue("BENCH_RUNS") > 0 ? qEnvironmentVariableIntValue("BENCH_RUNS") : 3);

    const QDir data(QStringLiteral(TAVRUNE_BENCH_DATA_DIR));
    QDir().mkpath(data.path());
    // BENCH_WHISPER_SHAPE=tiny checks the benchmark itself in seconds.
    const bool tiny = qEnvironmentVariable("BENCH_WHISPER_SHAPE") == QLatin1String("tiny");
    const QString model = data.filePath(tiny ? QStringLiteral("ggml-tiny-random.bin") : QStringLiteral("ggml-base-random.bin"));
    const QString wav = data.filePath(QStringLiteral("jfk-16k.wav"));
    prepare(model, tiny ? WhisperModelShape::tiny() : WhisperModelShape::base(), wav);
    const AudioSamples speech = readWav(wav);

    const int processors = WhisperCppEngineAdapter::activeProcessorCount();
    const int finalThreads = WhisperCppEngineAdapter::threadCount(processors, false);
    const int liveThreads = WhisperCppEngineAdapter::threadCount(processors, true);
    const QStringList cliArguments = {QStringLiteral("-m"), model, QStringLiteral("-f"), wav, QStringLiteral("-t"),
                                      QString::number(finalThreads), QStringLiteral("-bs"), QStringLiteral("1"),
                                      QStringLiteral("-l"), QStringLiteral("en"), QStringLiteral("-nt"), QStringLiteral("-np")};
    std::printf("whisper: %s random model, %.1f s of speech, %d final / %d live threads, %d runs\n",
                tiny ? "TINY (checks the benchmark, not a figure)" : "Base-shaped", double(speech.size()) / kSampleRate,
                finalThreads, liveThreads, runs);
    std::fflush(stdout);

    // Time that stands still: feeding the speech runs only the session's first live decode.
    FakeMonotonicClock stoppedClock;
    WhisperCppEngineAdapter adapter(stoppedClock);
    const qsizetype window = std::min<qsizetype>(speech.size(), WhisperCppEngineAdapter::liveWindowSamples);

    std::vector<double> adapterMs, finalizeMs, cliMs, ratios, liveMs;
    int sameTexts = 0;
    for (int run = 1; run <= runs; ++run) { // the model was just written or read, so it is in the page cache
        const double loadMs = millisecondsOf([&] { resultOf(adapter.loadModel(model)); });
        // The first 4 s decode live at once; with the clock stopped the rest only buffers.
        const double live = millisecondsOf([&] { resultOf(adapter.ingest(speech.first(window), LanguageOption::english)); });
        resultOf(adapter.ingest(speech.sliced(window), LanguageOption::english));
        QString adapterText;
        const double decodeMs = millisecondsOf([&] { adapterText = resultOf(adapter.finalize(LanguageOption::english)); });
        QProcess process;
        const double cli = millisecondsOf([&] {
            process.start(QStringLiteral(WHISPER_CLI_EXECUTABLE), cliArguments);
            if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
                fail(QStringLiteral("whisper-cli failed: %1").arg(QString::fromLocal8Bit(process.readAllStandardError().right(400))));
        });
        // Equal text means equal work. whisper.cpp keeps the first decoder's sampling
        // generator running across runs of one context, so after the live decode a
        // temperature fallback may sample differently from a fresh whisper-cli: a
        // mismatch is reported, not fatal.
        const QString cliText = QString::fromUtf8(process.readAllStandardOutput());
        const bool sameText = withoutSpaces(cliText) == withoutSpaces(adapterText);
        sameTexts += sameText ? 1 : 0;
        adapterMs.push_back(loadMs + decodeMs);
        finalizeMs.push_back(decodeMs);
        cliMs.push_back(cli);
        ratios.push_back((loadMs + decodeMs) / cli);
        liveMs.push_back(live);
        std::printf("  run %d: adapter load+finalize %.0f ms (finalize %.0f ms), whisper-cli %.0f ms, live window %.0f ms%s\n",
                    run, loadMs + decodeMs, decodeMs, cli, live, sameText ? "" : " (texts differ)");
        std::fflush(stdout);
    }

    std::printf("whisper final decode: adapter %.0f ms (finalize alone %.0f ms), whisper-cli %.0f ms (medians)\n",
                median(adapterMs), median(finalizeMs), median(cliMs));
    std::printf("whisper final decode ratio adapter/whisper-cli: %.3f (median; goal <= 1.05)\n", median(ratios));
    std::printf("same text from adapter and whisper-cli in %d of %d runs\n", sameTexts, runs);
    std::printf("(random weights run every temperature fallback to the token limit, far beyond what a trained model decodes)\n");
    std::printf("whisper live 4 s window decode: %.0f ms at %d threads (median); pacing interval %lld ms\n",
                median(liveMs), liveThreads, (long long)WhisperCppEngineAdapter::minimumDecodeInterval.count());
    return 0;
}
