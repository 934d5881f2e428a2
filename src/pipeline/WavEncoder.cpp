#include "WavEncoder.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace WavEncoder {

namespace {
void put32(char *at, quint32 value)
{
    qToLittleEndian(value, at);
}

void put16(char *at, quint16 value)
{
    qToLittleEndian(value, at);
}

qint16 toPcm16(float sample)
{
    if (std::isnan(sample))
        return 0;
    return static_cast<qint16>(std::clamp(sample, -1.0f, 1.0f) * 32767.0f);
}
} // namespace

QByteArray makeWAVData(const AudioSamples &samples, int sampleRate)
{
    const quint32 dataBytes = quint32(samples.size()) * 2;
    QByteArray wav(headerBytes + qsizetype(dataBytes), Qt::Uninitialized);
    char *out = wav.data();
    std::memcpy(out, "RIFF", 4);
    put32(out + 4, dataBytes + 36);
    std::memcpy(out + 8, "WAVEfmt ", 8);
    put32(out + 16, 16);
    put16(out + 20, 1);
    put16(out + 22, 1);
    put32(out + 24, quint32(sampleRate));
    put32(out + 28, quint32(sampleRate) * 2);
    put16(out + 32, 2);
    put16(out + 34, 16);
    std::memcpy(out + 36, "data", 4);
    put32(out + 40, dataBytes);

    char *pcm = out + headerBytes;
    for (float sample : samples) {
        qToLittleEndian(toPcm16(sample), pcm);
        pcm += 2;
    }
    return wav;
}

} // namespace WavEncoder
