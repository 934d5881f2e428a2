#pragma once

// What the Whisper benchmarks share: a random-weight model of Whisper Base's
// shape (generated once), 11 s of real speech as 16 kHz samples, and a few
// small helpers. Header-only: each benchmark is one executable.
#include "pipeline/AudioSamples.h"
#include "support/WhisperModelWriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace WhisperBenchData {

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double millisecondsOf(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

[[noreturn]] inline void fail(const char *bench, const QString &message)
{
    std::fprintf(stderr, "%s: %s\n", bench, qPrintable(message));
    std::exit(1);
}

inline int runs()
{
    const int asked = qEnvironmentVariableIntValue("BENCH_RUNS");
    return asked > 0 ? asked : 3;
}

// BENCH_WHISPER_SHAPE=tiny checks a benchmark itself in seconds.
inline bool tinyShape()
{
    return qEnvironmentVariable("BENCH_WHISPER_SHAPE") == QLatin1String("tiny");
}

// The shapes the engine must accept for the model prepare() writes.
inline WhisperModelFamily modelFamily()
{
    return tinyShape() ? WhisperModelShape::tinyFamily() : WhisperModelFamily::published();
}

// 16-bit PCM mono WAV as whisper-cli reads it (sample / 32768).
inline AudioSamples readWav(const char *bench, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(bench, QStringLiteral("cannot read %1").arg(path));
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        fail(bench, QStringLiteral("%1 is not a WAV file").arg(path));
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
    fail(bench, QStringLiteral("%1 has no data chunk").arg(path));
}

struct Files {
    QString model;
    QString wav;
};

// The model (Base-shaped, or tiny) and the speech clip, made on first use.
inline Files prepare(const char *bench)
{
    const QDir data(QStringLiteral(TAVRUNE_BENCH_DATA_DIR));
    QDir().mkpath(data.path());
    const Files files { data.filePath(tinyShape() ? QStringLiteral("ggml-tiny-random.bin") : QStringLiteral("ggml-base-random.bin")),
                        data.filePath(QStringLiteral("jfk-16k.wav")) };
    if (!QFile::exists(files.model)) {
        std::printf("generating a random-weight model (once) ...\n");
        std::fflush(stdout);
        const QString error = WhisperModelWriter::writeModel(
            files.model, tinyShape() ? WhisperModelShape::tiny() : WhisperModelShape::base(), 20240611);
        if (!error.isEmpty())
            fail(bench, QStringLiteral("cannot write %1: %2").arg(files.model, error));
    }
    if (!QFile::exists(files.wav)) {
        const int status = QProcess::execute(QStringLiteral("sox"),
            {QStringLiteral(WHISPER_SAMPLE_MP3), QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"),
             QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), files.wav});
        if (status != 0)
            fail(bench, QStringLiteral("sox could not convert %1 (is libsox-fmt-mp3 installed?)").arg(QStringLiteral(WHISPER_SAMPLE_MP3)));
    }
    return files;
}

} // namespace WhisperBenchData
