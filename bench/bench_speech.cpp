// Live recognition costs: the pocketsphinx real-time factor on a minute of
// speech fed as capture-sized batches (goal: under 0.3, so live text never
// falls behind the microphone), and the time the transcriber's stop takes to
// hand back its text (it waits for the recogniser for at most 0.8 s).
#include "support/SynthesizedSpeech.h"

#include "models/ModelManager.h"
#include "pipeline/HybridRealtimeTranscriptionService.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/PocketsphinxSpeechRecognition.h"
#include "support/MonotonicClock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {
const QStringList kSentences = {
    QStringLiteral("The weather is nice today and we are going to the park."),
    QStringLiteral("Please open the door and close the window."),
    QStringLiteral("I would like a cup of coffee with milk."),
    QStringLiteral("The meeting starts at nine in the morning."),
    QStringLiteral("She read the book in one afternoon."),
    QStringLiteral("We need to buy bread, eggs and some fresh fruit."),
    QStringLiteral("The train was late because of the snow."),
    QStringLiteral("Can you send me the report before Friday?"),
};

QList<float> speechOfAtLeast(double seconds)
{
    QList<float> samples;
    for (int i = 0; samples.size() < qsizetype(seconds * RecognitionRequest::sampleRate); ++i)
        samples.append(SynthesizedSpeech::samples(kSentences.at(i % kSentences.size())));
    return samples;
}

double realTimeFactor(const QList<float> &speech)
{
    PocketsphinxSpeechRecognition recognition;
    auto recognizer = recognition.recognizer(QStringLiteral("en-US"));
    if (!recognizer || !recognizer->isAvailable())
        return -1;
    // Warm the decoder pool so that model loading is not counted.
    {
        std::atomic<bool> done { false };
        auto request = std::make_shared<RecognitionRequest>();
        auto task = recognizer->recognitionTask(request, [&](const auto &result, const auto &error) {
            if (error || (result && result->isFinal))
                done = true;
        });
        request->append(QList<float>(1600, 0.0f));
        request->endAudio();
        while (!done)
            QThread::msleep(5);
    }
    std::atomic<bool> done { false };
    auto request = std::make_shared<RecognitionRequest>();
    auto task = recognizer->recognitionTask(request, [&](const auto &result, const auto &error) {
        if (error || (result && result->isFinal))
            done = true;
    });
    QElapsedTimer timer;
    timer.start();
    for (const auto &batch : SynthesizedSpeech::batches(speech))
        request->append(batch);
    request->endAudio();
    while (!done)
        QThread::msleep(1);
    return (timer.nsecsElapsed() / 1e9) / (double(speech.size()) / RecognitionRequest::sampleRate);
}

void waitFor(const QFuture<void> &future)
{
    while (!future.isFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Speech fed at the microphone's pace, then a stop; milliseconds until its text.
QList<double> stopLatencies(int runs, const QList<float> &speech)
{
    ModelManager modelManager(Platform::instance().paths());
    const auto hybrid = HybridRealtimeTranscriptionService::withDefaultEngines(
        modelManager, Platform::instance().speechRecognition(), MonotonicClock::system());
    HybridRealtimeTranscriptionService &transcriber = *hybrid;
    QList<double> latencies;
    const auto batches = SynthesizedSpeech::batches(speech);
    for (int run = 0; run < runs; ++run) {
        transcriber.prepareDictation(TranscriberRefinement::DictationId(run + 1), false);
        transcriber.setPreferredASRModel(ASRModelPreference::appleSpeechFast);
        waitFor(transcriber.start(LanguageOption::english));
        QElapsedTimer pace;
        pace.start();
        for (qsizetype i = 0; i < batches.size(); ++i) {
            while (pace.nsecsElapsed() < qint64(i) * 1024 * 1'000'000'000LL / RecognitionRequest::sampleRate)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            transcriber.appendAudioFrames(batches[i]);
        }
        QElapsedTimer timer;
        timer.start();
        QFuture<QString> stopped = transcriber.stopAndFinalize();
        while (!stopped.isFinished())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        latencies.append(timer.nsecsElapsed() / 1e6);
        if (run == 0)
            std::printf("  first stop returned: \"%s\"\n", qPrintable(stopped.result()));
    }
    return latencies;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Platform::install(createLinuxPlatform());

    const QList<float> minute = speechOfAtLeast(60.0);
    std::printf("pocketsphinx on %.1f s of speech in 1024-frame batches\n",
                double(minute.size()) / RecognitionRequest::sampleRate);
    const double rtf = realTimeFactor(minute);
    if (rtf < 0) {
        std::printf("pocketsphinx-en-us is not installed\n");
        return 1;
    }
    std::printf("  real-time factor: %.3f (goal: under 0.3)\n", rtf);

    const QList<float> utterance = speechOfAtLeast(3.0);
    QList<double> latencies = stopLatencies(9, utterance);
    std::sort(latencies.begin(), latencies.end());
    std::printf("stopAndFinalize after %.1f s of live speech, %lld runs\n",
                double(utterance.size()) / RecognitionRequest::sampleRate, qlonglong(latencies.size()));
    std::printf("  median: %.0f ms (min %.0f, max %.0f; the stop waits at most 800 ms for the recogniser)\n",
                latencies.at(latencies.size() / 2), latencies.first(), latencies.last());
    return 0;
}
