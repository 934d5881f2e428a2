#include "pipeline/WavEncoder.h"

#include <QtEndian>
#include <QtTest>

#include <limits>

class tst_WavEncoder : public QObject {
    Q_OBJECT
private slots:
    void headerDescribesMono16BitPcm();
    void samplesAreClampedAndTruncated_data();
    void samplesAreClampedAndTruncated();
};

void tst_WavEncoder::headerDescribesMono16BitPcm()
{
    // RIFF and its size, WAVE, a 16-byte fmt chunk (PCM, mono, 16 kHz, 32000 bytes a
    // second, 2-byte frames of 16 bits), then the data chunk's size
    const QByteArray format = QByteArray::fromHex("57415645 666d7420 10000000 0100 0100 803e0000 007d0000 0200 1000");
    const QByteArray wav = WavEncoder::makeWAVData(AudioSamples(16000, 0.25f), 16000);
    QCOMPARE(wav.size(), 32044);
    QCOMPARE(wav.left(44), "RIFF" + QByteArray::fromHex("247d0000") + format + "data" + QByteArray::fromHex("007d0000"));
    QCOMPARE(WavEncoder::makeWAVData({}, 16000),
             "RIFF" + QByteArray::fromHex("24000000") + format + "data" + QByteArray::fromHex("00000000"));
}

void tst_WavEncoder::samplesAreClampedAndTruncated_data()
{
    QTest::addColumn<float>("sample");
    QTest::addColumn<int>("pcm");
    QTest::newRow("full scale") << 1.0f << 32767;
    QTest::newRow("negative full scale is symmetric") << -1.0f << -32767;
    QTest::newRow("over range") << 1.5f << 32767;
    QTest::newRow("under range") << -2.0f << -32767;
    QTest::newRow("half truncates down") << 0.5f << 16383;
    QTest::newRow("negative half truncates toward zero") << -0.5f << -16383;
    QTest::newRow("infinity") << std::numeric_limits<float>::infinity() << 32767;
    QTest::newRow("not a number is silence") << std::numeric_limits<float>::quiet_NaN() << 0;
}

void tst_WavEncoder::samplesAreClampedAndTruncated()
{
    QFETCH(float, sample);
    QFETCH(int, pcm);
    const QByteArray wav = WavEncoder::makeWAVData({0.0f, sample}, 16000);
    QCOMPARE(wav.size(), 48);
    QCOMPARE(qFromLittleEndian<qint16>(wav.constData() + 46), qint16(pcm));
}

QTEST_GUILESS_MAIN(tst_WavEncoder)
#include "tst_WavEncoder.moc"
