// Times WhisperCppEngineAdapter against whisper-cli from the same whisper.cpp
// build on a random-weight model of Whisper Base's shape and 11 s of real
// speech, doing the same work: read the model, make a decoding state and
// decode the whole clip once with the same parameters and thread count. The
// adapter's calls are queued back to back as a stop queues them, so no live
// decode runs before the finalize, and each run gets a model cache of its own,
// so the file is read every time as whisper-cli reads it. Equal text shows
// equal work. Live decode times are bench_live's.
#include "WhisperBenchData.h"

#include "pipeline/WhisperCppEngineAdapter.h"

#include <QCoreApplication>
#include <QRegularExpression>

using namespace WhisperBenchData;

namespace {
constexpr char kBench[] = "bench_whisper";

QString withoutSpaces(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    return text;
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
    const Files files = prepare(kBench);
    const AudioSamples speech = readWav(kBench, files.wav);

    const int processors = WhisperCppEngineAdapter::activeProcessorCount();
    const int finalThreads = WhisperCppEngineAdapter::threadCount(processors, false);
    const QStringList cliArguments = {QStringLiteral("-m"), files.model, QStringLiteral("-f"), files.wav, QStringLiteral("-t"),
                                      QString::number(finalThreads), QStringLiteral("-bs"), QStringLiteral("1"),
                                      QStringLiteral("-l"), QStringLiteral("en"), QStringLiteral("-nt"), QStringLiteral("-np")};
    std::printf("whisper: %s random model, %.1f s of speech, %d final threads, %d runs\n",
                tinyShape() ? "TINY (checks the benchmark, not a figure)" : "Base-shaped", double(speech.size()) / kSampleRate,
                finalThreads, runs());
    std::fflush(stdout);

    std::vector<double> adapterMs, cliMs, ratios;
    int sameTexts = 0;
    for (int run = 1; run <= runs(); ++run) { // the model was just written or read, so it is in the page cache
        WhisperCppEngineAdapter::ModelCache models(modelFamily());
        WhisperCppEngineAdapter adapter(MonotonicClock::system(), WhisperCppEngineAdapter::activeProcessorCount, models);
        QString adapterText;
        const double adapterRun = millisecondsOf([&] {
            adapter.loadModel(files.model);
            adapter.ingest(speech, LanguageOption::english);
            adapterText = resultOf(adapter.finalize(LanguageOption::english));
        });
        QProcess process;
        const double cli = millisecondsOf([&] {
            process.start(QStringLiteral(WHISPER_CLI_EXECUTABLE), cliArguments);
            if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
                fail(kBench, QStringLiteral("whisper-cli failed: %1").arg(QString::fromLocal8Bit(process.readAllStandardError().right(400))));
        });
        const bool sameText = withoutSpaces(QString::fromUtf8(process.readAllStandardOutput())) == withoutSpaces(adapterText);
        sameTexts += sameText ? 1 : 0;
        adapterMs.push_back(adapterRun);
        cliMs.push_back(cli);
        ratios.push_back(adapterRun / cli);
        std::printf("  run %d: adapter load+finalize %.0f ms, whisper-cli %.0f ms%s\n", run, adapterRun, cli,
                    sameText ? "" : " (TEXTS DIFFER: not the same work)");
        std::fflush(stdout);
    }

    std::printf("whisper final decode: adapter %.0f ms, whisper-cli %.0f ms (medians)\n", median(adapterMs), median(cliMs));
    std::printf("whisper final decode ratio adapter/whisper-cli: %.3f (median; goal <= 1.05)\n", median(ratios));
    std::printf("same text from adapter and whisper-cli in %d of %d runs\n", sameTexts, runs());
    std::printf("(random weights run every temperature fallback to the token limit, far beyond what a trained model decodes)\n");
    return sameTexts == runs() ? 0 : 1;
}
