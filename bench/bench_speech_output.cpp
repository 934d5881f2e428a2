// Time from speak() of a 400-character text to the first audio buffer handed
// to the sink, median of 10 (goal: under 150 ms), with the system voice
// (espeak-ng) on the default output device when there is one; beside it,
// espeak-ng's synthesis real-time factor on the same text.
#include "pipeline/TextInjectionService.h"
#include "platform/fake/FakeAudioOutput.h"
#include "platform/fake/FakePlatform.h"
#include "platform/linux/EspeakSpeechSynthesizer.h"
#include "platform/linux/PulseAudioOutput.h"
#include "platform/linux/UnavailableNeuralVoiceEngine.h"
#include "speech/SelectionReader.h"
#include "speech/TextToSpeechService.h"
#include "support/MonotonicClock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {
const QString kText = QStringLiteral(
    "Speech output reads the selected text out loud. It keeps the first sentences of a long passage, so that the "
    "listener hears the gist quickly. The system voice is synthesised into memory on a worker thread, and each "
    "piece is handed to the loudspeakers as soon as it exists. A short pause between pieces would be heard as a "
    "stutter, so pieces follow each other without one. Stop ends everything at once.");

// Notes when the first buffer arrives, then passes everything on.
class FirstBufferProbe : public AudioOutput {
public:
    explicit FirstBufferProbe(AudioOutput &inner) : m_inner(inner) {}
    std::optional<qint64> firstAtNs;
    QElapsedTimer clock;

    bool isAvailable() override { return m_inner.isAvailable(); }
    bool play(std::vector<float> samples, int sampleRate, Completion completion) override
    {
        if (!firstAtNs)
            firstAtNs = clock.nsecsElapsed();
        return m_inner.play(std::move(samples), sampleRate, std::move(completion));
    }
    void stop() override { m_inner.stop(); }

private:
    AudioOutput &m_inner;
};

bool spin(const std::function<bool()> &done, int timeoutMs = 20000)
{
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return done();
}

struct Synthesis {
    double wallSeconds = 0;
    double audioSeconds = 0;
};

// The whole text synthesised, from speak() to the last piece.
Synthesis synthesiseWhole()
{
    FakeAudioOutput collector;
    EspeakSpeechSynthesizer synthesizer(collector);
    bool finished = false;
    QObject::connect(&synthesizer, &SystemSpeechSynthesizer::finished, [&] { finished = true; });
    QElapsedTimer timer;
    timer.start();
    synthesizer.speak({kText, 0.92, 1.05, std::nullopt});
    if (!spin([&] { return finished; }))
        return {};
    Synthesis synthesis{timer.nsecsElapsed() / 1e9, 0};
    for (const auto &buffer : collector.played)
        synthesis.audioSeconds += double(buffer.samples.size()) / buffer.sampleRate;
    return synthesis;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PulseAudioOutput speakers;
    FakeAudioOutput silent;
    const bool haveSpeakers = speakers.isAvailable();
    FirstBufferProbe probe(haveSpeakers ? static_cast<AudioOutput &>(speakers) : silent);
    EspeakSpeechSynthesizer synthesizer(probe);
    UnavailableNeuralVoiceEngine neural;
    FakePlatform fakes;
    TextInjectionService keys(fakes, MonotonicClock::system());
    SelectionReader reader(fakes.workspace(), fakes.accessibility(), fakes.pasteboard(), keys,
                           MonotonicClock::system());
    QTemporaryDir models;
    TextToSpeechService tts({fakes.settings(), probe, synthesizer, neural, reader, models.path()});
    if (!synthesizer.isAvailable()) {
        std::fprintf(stderr, "espeak-ng is unavailable\n");
        return 1;
    }
    tts.speak(QStringLiteral("Warm up.")); // loads espeak's voice data once
    spin([&] { return !tts.isSpeaking(); });

    QList<double> ms;
    for (int run = 0; run < 10; ++run) {
        probe.firstAtNs.reset();
        probe.clock.start();
        tts.speak(kText);
        if (!spin([&] { return probe.firstAtNs.has_value(); })) {
            std::fprintf(stderr, "no audio reached the sink\n");
            return 1;
        }
        ms << *probe.firstAtNs / 1e6;
        tts.stop();
        spin([] { return false; }, 50);
    }
    std::sort(ms.begin(), ms.end());
    const double median = (ms[4] + ms[5]) / 2;
    const Synthesis whole = synthesiseWhole();
    std::printf("sink: %s, text: %lld characters\n", haveSpeakers ? "default output device" : "none (null sink)",
                qlonglong(kText.size()));
    std::printf("%-34s %10s %10s %8s\n", "measure", "median", "goal", "ratio");
    std::printf("%-34s %7.1f ms %7.0f ms %8.2f\n", "speak() to first buffer at sink", median, 150.0, median / 150.0);
    std::printf("%-34s %10.4f (%.1f s of speech in %.1f ms)\n", "espeak-ng real-time factor",
                whole.audioSeconds > 0 ? whole.wallSeconds / whole.audioSeconds : -1.0, whole.audioSeconds,
                whole.wallSeconds * 1000);
    std::printf("goal first buffer < 150 ms: %s\n", median < 150.0 ? "met" : "NOT met");
    return 0;
}
