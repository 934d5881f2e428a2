#include "pipeline/MacAudioCaptureService.h"
#include "platform/fake/FakePlatform.h"
#include "support/DescribedError.h"

#include <QtTest>

class tst_MacAudioCaptureService : public QObject {
    Q_OBJECT
private slots:
    void init();

    void resampledLength_data();
    void resampledLength();
    void resamplerInterpolatesLinearly();
    void emptyAndNonFloatBuffers();
    void gainClampsOnlyAboveOne();
    void failedStartIsRecoverableAndRestartReplacesTheTap();
    void stopAndReleaseRemoveTheTap();

private:
    static AudioSamples ramp(int n)
    {
        AudioSamples samples(n);
        for (int i = 0; i < n; ++i)
            samples[i] = float(i) / float(n);
        return samples;
    }

    // Starts the service with the fake device at rate and one channel;
    // what it delivers collects in m_received.
    void startMono(MacAudioCaptureService &service, double rate = 16000.0)
    {
        m_input->setFormat({rate, 1});
        service.start([this](const AudioSamples &samples) { m_received.append(samples); });
    }

    FakeAudioInput *m_input = nullptr;
    QList<AudioSamples> m_received;
};

void tst_MacAudioCaptureService::init()
{
    m_input = &FakePlatform::installNew().fakeAudioInput();
    m_received.clear();
}

void tst_MacAudioCaptureService::resampledLength_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("length");

    QTest::newRow("48 kHz") << 1024 << 48000.0 << 341;
    QTest::newRow("44.1 kHz") << 1024 << 44100.0 << 371;
    QTest::newRow("8 kHz") << 1024 << 8000.0 << 2048;
    QTest::newRow("within 1 Hz") << 1024 << 16000.5 << 1024;
    QTest::newRow("1 Hz off") << 1024 << 16001.0 << 1023;
    QTest::newRow("too short for one sample") << 2 << 48000.0 << 0;
    QTest::newRow("no rate") << 1024 << 0.0 << 0;
}

void tst_MacAudioCaptureService::resampledLength()
{
    QFETCH(int, frames);
    QFETCH(double, rate);
    QFETCH(int, length);
    QCOMPARE(MacAudioCaptureService::resample(ramp(frames), rate, 16000.0).size(), length);
}

void tst_MacAudioCaptureService::resamplerInterpolatesLinearly()
{
    const AudioSamples input = ramp(1024);

    // equal rates: the very same samples
    QCOMPARE(MacAudioCaptureService::resample(input, 16000.0, 16000.0), input);

    // 48 kHz: every third sample, no filtering
    const AudioSamples down = MacAudioCaptureService::resample(input, 48000.0, 16000.0);
    for (int i = 0; i < down.size(); ++i)
        QCOMPARE(down[i], input[3 * i]);

    // 8 kHz: the inputs and the midpoints between them; the last output leans
    // on the last input because the next index is capped
    const AudioSamples up = MacAudioCaptureService::resample(input, 8000.0, 16000.0);
    QCOMPARE(up[10], input[5]);
    QCOMPARE(up[11], 0.5f * input[5] + 0.5f * input[6]);
    QCOMPARE(up[2046], input[1023]);
    QCOMPARE(up[2047], input[1023]);
}

void tst_MacAudioCaptureService::emptyAndNonFloatBuffers()
{
    MacAudioCaptureService service;
    startMono(service);
    m_input->deliver({{QList<float>{}}, 0});
    QCOMPARE(m_received, QList<AudioSamples>{AudioSamples{}});
    m_input->deliver({{}, 512}); // no float channel data: dropped
    QCOMPARE(m_received.size(), 1);
}

void tst_MacAudioCaptureService::gainClampsOnlyAboveOne()
{
    MacAudioCaptureService service;
    startMono(service);
    m_input->deliverInterleaved({1.5f, -0.2f, -1.5f});
    QCOMPARE(m_received.last(), (AudioSamples{1.5f, -0.2f, -1.5f}));

    service.setWhisperModeGain(3.0f);
    m_input->deliverInterleaved({0.5f, -0.2f, -0.4f});
    QCOMPARE(m_received.last(), (AudioSamples{1.0f, -0.2f * 3.0f, -1.0f}));
}

void tst_MacAudioCaptureService::failedStartIsRecoverableAndRestartReplacesTheTap()
{
    MacAudioCaptureService service;
    m_input->failNextStart(QStringLiteral("The audio input device could not be opened."));
    QVERIFY_THROWS_EXCEPTION(DescribedError, service.start([](const AudioSamples &) {}));
    QVERIFY(service.isTapInstalled());
    QVERIFY(!m_input->isRunning());

    int first = 0;
    int second = 0;
    service.start([&](const AudioSamples &) { ++first; });
    service.start([&](const AudioSamples &) { ++second; });
    QVERIFY(m_input->isRunning());
    QCOMPARE(m_input->installedTapCount(), 1);
    m_input->deliverInterleaved(QList<float>(1024, 0.1f));
    QCOMPARE(first, 0);
    QCOMPARE(second, 1);
}

void tst_MacAudioCaptureService::stopAndReleaseRemoveTheTap()
{
    int calls = 0;
    {
        MacAudioCaptureService service;
        service.start([&](const AudioSamples &) { ++calls; });
        service.stop();
        QVERIFY(!service.isTapInstalled());
        QVERIFY(!m_input->deliverInterleaved(QList<float>(1024, 0.1f)));
        service.stop(); // harmless when idle

        service.start([&](const AudioSamples &) { ++calls; });
    }
    // a released service leaves no tap behind
    QCOMPARE(m_input->installedTapCount(), 0);
    QVERIFY(!m_input->isRunning());
    QCOMPARE(calls, 0);
}

QTEST_GUILESS_MAIN(tst_MacAudioCaptureService)
#include "tst_MacAudioCaptureService.moc"
