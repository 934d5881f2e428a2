#include "SynthesizedSpeech.h"

#include <QDebug>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {
bool runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning().noquote() << program << "failed:" << process.readAllStandardError();
        return false;
    }
    return true;
}
} // namespace

namespace SynthesizedSpeech {

QList<float> samples(const QString &text)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("speech.wav"));
    const QString raw = dir.filePath(QStringLiteral("speech.raw"));
    // This voice and rate are the ones the stock en-US acoustic model hears best.
    if (!runTool(QStringLiteral("espeak-ng"), { QStringLiteral("-v"), QStringLiteral("en-us+m3"), QStringLiteral("-s"),
                                                QStringLiteral("160"), QStringLiteral("-w"), wav, text }))
        return {};
    // -R: sox seeds its dither randomly otherwise, and the recogniser's answer
    // on borderline words then changes from run to run
    if (!runTool(QStringLiteral("sox"), { QStringLiteral("-R"), wav, QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"),
                                          QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"),
                                          QStringLiteral("-e"), QStringLiteral("signed-integer"), QStringLiteral("-t"),
                                          QStringLiteral("raw"), raw, QStringLiteral("pad"), QStringLiteral("0.3"),
                                          QStringLiteral("0.3") }))
        return {};
    QFile file(raw);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    QList<float> out;
    out.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto value = qint16(quint8(bytes[i]) | (quint16(quint8(bytes[i + 1])) << 8));
        out.append(float(value) / 32768.0f);
    }
    return out;
}

QList<QList<float>> batches(const QList<float> &samples, qsizetype batchSize)
{
    QList<QList<float>> out;
    for (qsizetype offset = 0; offset < samples.size(); offset += batchSize)
        out.append(samples.mid(offset, batchSize));
    return out;
}

} // namespace SynthesizedSpeech
