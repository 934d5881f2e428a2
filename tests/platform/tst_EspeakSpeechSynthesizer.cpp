#include "platform/fake/FakeAudioOutput.h"
#include "platform/linux/EspeakSpeechSynthesizer.h"
#include "speech/TextToSpeechService.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>

namespace {
const char *const kExitWithStaticSynthesizer = "--exit-with-a-static-synthesizer";
const QString kSentence = QStringLiteral("The quick brown fox jumps over the lazy dog near the river bank.");

struct Heard {
    double seconds = 0;
    double rms = 0;
};
} // namespace

// Real espeak-ng synthesis, collected from the audio output it plays through.
class tst_EspeakSpeechSynthesizer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void speaksTheSentenceFasterAtAHigherRate();
    void stoppedUtteranceIsNotReportedFinished();
    void bestVoiceIsTheMainEnglishOne();
    void oneAmongTheStaticObjectsGoesAtExitWithoutHanging();

private:
    Heard speak(double rate);

    FakeAudioOutput m_output;
    std::unique_ptr<EspeakSpeechSynthesizer> m_synthesizer;
};

void tst_EspeakSpeechSynthesizer::initTestCase()
{
    m_synthesizer = std::make_unique<EspeakSpeechSynthesizer>(m_output);
    QVERIFY(m_synthesizer->isAvailable());
}

Heard tst_EspeakSpeechSynthesizer::speak(double rate)
{
    m_output.played.clear();
    QSignalSpy finished(m_synthesizer.get(), &SystemSpeechSynthesizer::finished);
    const quint64 id = m_synthesizer->speak({kSentence, rate, 1.0, std::nullopt});
    if (!finished.wait(20000) || finished.size() != 1 || finished.first().first().toULongLong() != id)
        return {};
    Heard heard;
    double sum = 0;
    qint64 count = 0;
    for (const auto &buffer : m_output.played) {
        for (float sample : buffer.samples)
            sum += double(sample) * sample;
        count += qint64(buffer.samples.size());
        heard.seconds += double(buffer.samples.size()) / buffer.sampleRate;
    }
    heard.rms = count ? std::sqrt(sum / double(count)) : 0;
    return heard;
}

void tst_EspeakSpeechSynthesizer::speaksTheSentenceFasterAtAHigherRate()
{
    const Heard normal = speak(1.0);
    QVERIFY2(normal.seconds > 2.0 && normal.seconds < 8.0, qPrintable(QString::number(normal.seconds)));
    QVERIFY2(normal.rms > 0.02, qPrintable(QString::number(normal.rms)));
    QVERIFY(!m_synthesizer->isSpeaking());
    const double fast = speak(2.0).seconds;
    QVERIFY2(fast > 0 && fast < normal.seconds * 0.7, qPrintable(QStringLiteral("%1 s vs %2 s").arg(fast).arg(normal.seconds)));
}

void tst_EspeakSpeechSynthesizer::stoppedUtteranceIsNotReportedFinished()
{
    QSignalSpy finished(m_synthesizer.get(), &SystemSpeechSynthesizer::finished);
    m_output.holdPlayback = true;
    m_synthesizer->speak({kSentence, 1.0, 1.0, std::nullopt});
    QTRY_VERIFY(!m_output.played.isEmpty());
    m_synthesizer->stopSpeaking();
    m_output.holdPlayback = false;
    while (m_output.finishPlayback()) {
    }
    QTest::qWait(300);
    QVERIFY(finished.isEmpty());
    QVERIFY(!m_synthesizer->isSpeaking());
}

void tst_EspeakSpeechSynthesizer::bestVoiceIsTheMainEnglishOne()
{
    const auto voices = m_synthesizer->voices();
    const auto best = TextToSpeechService::findBestSystemVoice(voices);
    QVERIFY(best);
    // espeak's own main English voice, not the first English one it lists
    QCOMPARE(best->language, QStringLiteral("en-gb"));
    m_output.played.clear();
    QSignalSpy finished(m_synthesizer.get(), &SystemSpeechSynthesizer::finished);
    m_synthesizer->speak({QStringLiteral("Hello."), 1.0, 1.0, best});
    QVERIFY(finished.wait(20000));
    QVERIFY(!m_output.played.isEmpty());
}

void tst_EspeakSpeechSynthesizer::oneAmongTheStaticObjectsGoesAtExitWithoutHanging()
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(), {QLatin1String(kExitWithStaticSynthesizer)});
    const bool ended = process.waitForFinished(20000);
    if (!ended)
        process.kill();
    QVERIFY2(ended, "hangs at exit");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], kExitWithStaticSynthesizer) == 0) {
        // Made before the espeak thread it then starts, so destroyed after
        // that thread's own static objects.
        static FakeAudioOutput output;
        static EspeakSpeechSynthesizer synthesizer(output);
        return synthesizer.isAvailable() ? 0 : 1;
    }
    tst_EspeakSpeechSynthesizer test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_EspeakSpeechSynthesizer.moc"
