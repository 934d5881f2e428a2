// Live recognition on Whisper: what the default mode's live text costs, on a
// random-weight model of Whisper Base's shape and real speech. Random weights
// never stop emitting tokens, so every run is bounded to four tokens per
// second of audio (about what read speech needs) without temperature
// fallback; encoder and decoder times are shown apart (the encoder time is a
// one-token run). Thread counts are those of a 4-core machine.
//   - one live decode at the live thread count, with the encoder context fitted
//     to the audio, beside the full 30 s context (goal: under 0.6 s, half the
//     1.2 s pacing);
//   - end of audio to the final result of a 10 s utterance fed in real time,
//     at the final thread count (goal: under 0.8 s, the stop's wait).
#include "WhisperBenchData.h"

#include "pipeline/WhisperCppEngineAdapter.h"
#include "pipeline/WhisperSpeechRecognition.h"
#include "platform/fake/FakeSpeechRecognizer.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cmath>

using namespace WhisperBenchData;
using Decoder = WhisperCppEngineAdapter::Decoder;
using DecodePass = WhisperCppEngineAdapter::DecodePass;

namespace {
constexpr char kBench[] = "bench_live";
constexpr int kCores = 4;
constexpr double kTokensPerSecond = 4;
constexpr double kLiveGoalMs = 600;
constexpr double kFinalGoalMs = 800;

int tokensFor(std::size_t samples)
{
    return int(std::ceil(double(samples) / kSampleRate * kTokensPerSecond));
}

double medianDecodeMs(Decoder &decoder, const std::vector<float> &samples, DecodePass pass, int tokens)
{
    decoder.setTokenLimit(tokens);
    decoder.decode(samples, LanguageOption::english, pass); // warm-up
    std::vector<double> times;
    for (int run = 0; run < runs(); ++run)
        times.push_back(millisecondsOf([&] { decoder.decode(samples, LanguageOption::english, pass); }));
    return median(times);
}

// From the end of the audio to the final result, the utterance fed at the pace it is spoken.
double endToFinalMs(WhisperSpeechRecognition &recognition, const AudioSamples &utterance)
{
    std::atomic<bool> done {false};
    auto request = std::make_shared<RecognitionRequest>();
    auto task = recognition.recognizer(QStringLiteral("en-US"))
                    ->recognitionTask(request, [&](const std::optional<SpeechRecognitionResult> &result,
                                                   const std::optional<QString> &error) {
                        if (error || (result && result->isFinal))
                            done = true;
                    });
    QElapsedTimer clock;
    clock.start();
    for (qsizetype offset = 0; offset < utterance.size(); offset += 1024) {
        request->append(utterance.mid(offset, 1024));
        const qint64 due = (offset + 1024) * 1000 / kSampleRate;
        if (due > clock.elapsed())
            QThread::msleep(quint64(due - clock.elapsed()));
    }
    return millisecondsOf([&] {
        request->endAudio();
        while (!done)
            QThread::usleep(200);
    });
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "*.debug=false;default.info=false");
    const Files files = prepare(kBench);
    const AudioSamples speech = readWav(kBench, files.wav);
    const auto cores = [] { return kCores; };
    std::printf("live: %s random model, %d cores (%d live / %d final threads), %d runs, %g tokens per second of audio\n",
                tinyShape() ? "TINY (checks the benchmark, not a figure)" : "Base-shaped", kCores,
                WhisperCppEngineAdapter::threadCount(kCores, true), WhisperCppEngineAdapter::threadCount(kCores, false),
                runs(), kTokensPerSecond);
    std::fflush(stdout);

    WhisperCppEngineAdapter::ModelCache models(modelFamily());
    Decoder decoder(models.load(files.model), cores);
    // The full context at the live thread count, for comparison.
    Decoder fullContextLive(models.load(files.model), [] { return WhisperCppEngineAdapter::threadCount(kCores, true); });

    for (const double seconds : {4.0, 15.0}) {
        std::vector<float> window(speech.cbegin(), speech.cend());
        window.resize(std::size_t(seconds * kSampleRate)); // the 15 s tail ends in silence
        const int tokens = tokensFor(window.size());
        const double encoder = medianDecodeMs(decoder, window, DecodePass::live, 1);
        const double total = medianDecodeMs(decoder, window, DecodePass::live, tokens);
        const double full = medianDecodeMs(fullContextLive, window, DecodePass::whole, tokens);
        std::printf("live decode of %2.0f s (context %d): encoder %.0f ms + decoder (%d tokens) %.0f ms = %.0f ms; "
                    "full context %.0f ms; ratio to the %.0f ms goal %.2f\n",
                    seconds, WhisperCppEngineAdapter::fittedAudioContext(window.size()), encoder, tokens,
                    total - encoder, total, full, kLiveGoalMs, total / kLiveGoalMs);
        std::fflush(stdout);
    }

    const AudioSamples utterance = speech.first(std::min<qsizetype>(speech.size(), 10 * kSampleRate));
    const std::vector<float> whole(utterance.cbegin(), utterance.cend());
    const double closing = medianDecodeMs(decoder, whole, DecodePass::closing, tokensFor(whole.size()));
    const double closingFull = medianDecodeMs(decoder, whole, DecodePass::whole, tokensFor(whole.size()));
    FakeSpeechRecognition noFallback;
    WhisperSpeechRecognition recognition(
        noFallback, [&] { return files.model; }, models,
        WhisperRecognitionTask::whisperCppDecoders(models, cores, tokensFor(whole.size())));
    std::vector<double> waits;
    for (int run = 0; run < runs(); ++run)
        waits.push_back(endToFinalMs(recognition, utterance));
    std::printf("end of audio to final result, %.0f s utterance: %.0f ms (median); one closing decode of all of it: "
                "%.0f ms, full context %.0f ms; ratio to the %.0f ms goal %.2f\n",
                double(utterance.size()) / kSampleRate, median(waits), closing, closingFull, kFinalGoalMs,
                median(waits) / kFinalGoalMs);
    return 0;
}
