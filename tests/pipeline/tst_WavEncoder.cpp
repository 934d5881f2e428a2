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
    const auto u32 = [](const QByteArray &bytes, int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    const auto u16 = [](const QByteArray &bytes, int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    const QByteArray wav = WavEncoder::makeWAVData(AudioSamples(16000, 0.25f), 16000);
    QCOMPARE(wav.size(), 32044);
    QCOMPARE(wav.left(4), QByteArray("RIFF"));
    QCOMPARE(u32(wav, 4), 32036u);
    QCOMPARE(wav.mid(8, 8), QByteArray("WAVEfmt "));
    QCOMPARE(u32(wav, 16), 16u);
    QCOMPARE(u16(wav, 20), 1); // PCM
    QCOMPARE(u16(wav, 22), 1); // mono
    QCOMPARE(u32(wav, 24), 16000u);
    QCOMPARE(u32(wav, 28), 32000u);
    QCOMPARE(u16(wav, 32), 2);
    QCOMPARE(u16(wav, 34), 16);
    QCOMPARE(wav.mid(36, 4), QByteArray("data"));
    QCOMPARE(u32(wav, 40), 32000u);

    const QByteArray empty = WavEncoder::makeWAVData({}, 16000);
    QCOMPARE(empty.size(), 44);
    QCOMPARE(u32(empty, 4), 36u);
    QCOMPARE(u32(empty, 40), 0u);
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
