#include "DesktopHarness.h"

#include "pipeline/MacAudioCaptureService.h"
#include "platform/AudioInput.h"
#include "platform/linux/LinuxPlatform.h"

#include <QtTest>

#include <QMutex>
#include <QThread>

using namespace std::chrono_literals;

// Capture from the real PulseAudio default source, fed by the harness.
class tst_AudioCaptureOnDesktop : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void leftChannelArrivesAt16kHzInDeviceSizedBuffers();

private:
    // Three seconds of stereo at 48 kHz: on the left, speech at half volume
    // over a faint noise floor (so that no stretch of it is digital silence);
    // on the right, a loud tone that must not reach the pipeline.
    QString makeSpeech();

};

void tst_AudioCaptureOnDesktop::initTestCase()
{
    for (const char *tool : {"espeak-ng", "sox"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/bootstrap installs it)").arg(QLatin1String(tool))));
    }
    Platform::install(createLinuxPlatform());
}

QString tst_AudioCaptureOnDesktop::makeSpeech()
{
    const QString dir = m_desktop.runDir() + QLatin1Char('/');
    auto sox = [](const QString &arguments) {
        return runProgram(QStringLiteral("sox"), arguments.split(QLatin1Char(' ')), 20s) == 0;
    };
    const bool made = runProgram(QStringLiteral("espeak-ng"),
                                 {QStringLiteral("-w"), dir + QStringLiteral("raw.wav"),
                                  QStringLiteral("Please hold the key and speak clearly into the microphone.")},
                                 20s)
            == 0
        && sox(QStringLiteral("%1raw.wav -r 48000 -c 1 -b 16 %1voice.wav pad 0 3 trim 0 3").arg(dir))
        && sox(QStringLiteral("-n -r 48000 -c 1 -b 16 %1noise.wav synth 3 whitenoise vol 0.01").arg(dir))
        && sox(QStringLiteral("-m %1voice.wav %1noise.wav %1left.wav vol 0.5").arg(dir))
        && sox(QStringLiteral("-n -r 48000 -c 1 -b 16 %1right.wav synth 3 sine 300 vol 0.9").arg(dir))
        && sox(QStringLiteral("-M %1left.wav %1right.wav %1speech.wav").arg(dir));
    return made ? dir + QStringLiteral("speech.wav") : QString();
}

void tst_AudioCaptureOnDesktop::leftChannelArrivesAt16kHzInDeviceSizedBuffers()
{
    const QString speech = makeSpeech();
    QVERIFY2(!speech.isEmpty(), "could not make the speech file with espeak-ng and sox");

    const AudioInput::Format format = Platform::instance().audioInput().inputFormat();
    QCOMPARE(format.sampleRate, 48000.0); // the harness's default source
    QCOMPARE(format.channelCount, 2);

    MacAudioCaptureService service;
    QVERIFY(service.requestMicrophoneAccess().result());

    QMutex mutex;
    QList<AudioSamples> buffers;
    bool onMainThread = false;
    service.start([&](const AudioSamples &samples) {
        QMutexLocker lock(&mutex);
        onMainThread = onMainThread || QThread::currentThread() == qApp->thread();
        buffers.append(samples);
    });
    QVERIFY(m_desktop.playIntoMicrophone(speech));
    // the last of the playback still has to pass through the sink
    DesktopHarness::waitUntil([] { return false; }, 300ms);
    service.stop();

    QMutexLocker lock(&mutex);
    QVERIFY(!onMainThread);
    QVERIFY(buffers.size() > 10);
    // 1024 frames at 48 kHz each; only the rest handed over at stop may be shorter
    for (qsizetype i = 0; i + 1 < buffers.size(); ++i)
        QCOMPARE(buffers[i].size(), 341);
    QVERIFY(buffers.last().size() <= 341);

    AudioSamples all;
    for (const AudioSamples &b : buffers)
        all += b;
    // Sound is what lies between the first and the last non-zero sample,
    // less the runs of silence a starved null sink inserts on a busy machine
    // (the noise floor alone is never zero for long).
    const qsizetype first = std::find_if(all.cbegin(), all.cend(), [](float s) { return s != 0.0f; }) - all.cbegin();
    const qsizetype last = all.crend() - std::find_if(all.crbegin(), all.crend(), [](float s) { return s != 0.0f; });
    QVERIFY2(last > first, "nothing but silence was captured");
    qsizetype heard = 0;
    qsizetype zeros = 0;
    for (qsizetype i = first; i < last; ++i) {
        if (all[i] == 0.0f) {
            ++zeros;
            continue;
        }
        heard += 1 + (zeros < 8 ? zeros : 0);
        zeros = 0;
    }
    QVERIFY2(heard > 47500 && heard < 48500, qPrintable(QStringLiteral("%1 samples of sound").arg(heard)));

    // the speech itself, not just the noise floor, came through, and none of the tone
    const float peak = *std::max_element(all.cbegin(), all.cend(), [](float a, float b) { return std::abs(a) < std::abs(b); });
    QVERIFY2(std::abs(peak) > 0.1f && std::abs(peak) < 0.6f, qPrintable(QString::number(peak)));
}

TAVRUNE_E2E_MAIN(tst_AudioCaptureOnDesktop,
                 (DesktopHarness::Options{.windowManager = false, .accessibility = false, .microphoneChannels = 2}))
#include "tst_AudioCaptureOnDesktop.moc"
