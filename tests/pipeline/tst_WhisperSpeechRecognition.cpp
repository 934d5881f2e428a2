#include "support/LogCapture.h"
#include "support/RecognitionResults.h"
#include "support/WhisperModelWriter.h"

#include "pipeline/WhisperSpeechRecognition.h"
#include "platform/fake/FakeSpeechRecognizer.h"

#include <QtTest>

#include <cmath>

namespace {
using ModelCache = WhisperCppEngineAdapter::ModelCache;

// A steady tone is "speech" to the energy detector; zeros are a pause.
QList<float> tone(double seconds)
{
    QList<float> samples(qsizetype(seconds * RecognitionRequest::sampleRate));
    for (qsizetype i = 0; i < samples.size(); ++i)
        samples[i] = 0.3f * float(std::sin(double(i) * 0.07) + 0.5 * std::sin(double(i) * 0.31));
    return samples;
}

QList<float> pause(double seconds)
{
    return QList<float>(qsizetype(seconds * RecognitionRequest::sampleRate), 0.0f);
}

} // namespace

class tst_WhisperSpeechRecognition : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void backendChoice();
    void growingTranscriptCommitsAtPauses();
    void longDictationCommitsAtTheCapInBoundedMemory();
    void nothingSaidGivesNothingButAnEmptyFinal();
    void cancelEndsTheWorkerWithoutResults();

private:
    bool recognise(const QList<float> &audio, RecognitionResults &results)
    {
        return results.recognise(*m_recognition->recognizer(QStringLiteral("en-US")), audio);
    }

    QTemporaryDir m_dir;
    ModelCache m_models{WhisperModelShape::tinyFamily()};
    QString m_model;
    QString m_installed; // what the recognition sees as the installed Base model
    FakeSpeechRecognition m_fallback;
    std::unique_ptr<WhisperSpeechRecognition> m_recognition;
};

void tst_WhisperSpeechRecognition::initTestCase()
{
    m_model = m_dir.filePath(QStringLiteral("ggml-base.bin"));
    QCOMPARE(WhisperModelWriter::writeTinyModel(m_model, 3), QString());
    m_installed = m_model;
    m_recognition = std::make_unique<WhisperSpeechRecognition>(
        m_fallback, [this] { return m_installed; }, m_models,
        WhisperRecognitionTask::whisperCppDecoders(m_models, [] { return 1; }));
}

void tst_WhisperSpeechRecognition::backendChoice()
{
    const auto isWhisper = [](const std::unique_ptr<SpeechRecognizer> &recognizer) {
        return recognizer && !dynamic_cast<FakeSpeechRecognizer *>(recognizer.get());
    };
    for (const LanguageOption language : Enums::allCases<LanguageOption>()) {
        const auto recognizer = m_recognition->recognizer(LanguageOptions::localeIdentifier(language));
        QVERIFY(isWhisper(recognizer) && recognizer->isAvailable());
    }

    // A model that fails to load ends its task with an error; the next
    // recogniser is the fallback.
    const QString broken = m_dir.filePath(QStringLiteral("broken.bin"));
    QCOMPARE(WhisperModelWriter::writeDamagedModel(broken, WhisperModelWriter::Damage::truncatedInLastTensor), QString());
    m_installed = broken;
    RecognitionResults results;
    QVERIFY(recognise(tone(2), results));
    QCOMPARE(results.error, QStringLiteral("The Whisper speech model could not be loaded."));
    QVERIFY(!isWhisper(m_recognition->recognizer(QStringLiteral("en-US"))));

    m_installed.clear(); // not installed
    QVERIFY(!isWhisper(m_recognition->recognizer(QStringLiteral("en-US"))));
    m_installed = m_model;
    QVERIFY(!isWhisper(m_recognition->recognizer(QStringLiteral("xx-XX"))));
}

void tst_WhisperSpeechRecognition::growingTranscriptCommitsAtPauses()
{
    // 0.8 s of speech and a pause: committed before any partial was due.
    LogCapture log;
    RecognitionResults results;
    QVERIFY(recognise(tone(0.8) + pause(1) + tone(3.5) + pause(1) + tone(2.5), results));
    QVERIFY(!results.error);
    QVERIFY(results.partials.size() >= 2);
    const QString first = results.partials.first();
    QVERIFY(!first.isEmpty());
    for (const QString &text : std::as_const(results.partials))
        QVERIFY2(text.startsWith(first), qPrintable(text));
    QVERIFY(results.final->startsWith(first) && results.final->size() > first.size());
    QVERIFY(log.contains(QStringLiteral("2 commits, longest decode 4.")));
}

void tst_WhisperSpeechRecognition::longDictationCommitsAtTheCapInBoundedMemory()
{
    LogCapture log;
    RecognitionResults results;
    QList<float> tenMinutes;
    const QList<float> minute = tone(60);
    for (int i = 0; i < 10; ++i)
        tenMinutes += minute;
    QVERIFY(results.recognise(*m_recognition->recognizer(QStringLiteral("en-US")), tenMinutes, 180'000));
    QVERIFY(!results.error);
    QVERIFY(log.contains(QStringLiteral("Whisper recognition ended: 600.0 s heard, 40 commits, longest decode 15.0 s")));
}

void tst_WhisperSpeechRecognition::nothingSaidGivesNothingButAnEmptyFinal()
{
    // Noise taken for speech, which every decode hears as a stock phrase.
    std::atomic<int> decodes = 0;
    WhisperSpeechRecognition hallucinating(m_fallback, [this] { return m_model; }, m_models,
                                           [&](const QString &) -> WhisperRecognitionTask::TailDecoder {
        return [&](auto &&...) { return ++decodes, std::optional<QString>(QStringLiteral("Thanks for watching!")); };
    });
    const std::pair<WhisperSpeechRecognition *, QList<float>> runs[] = {
        {m_recognition.get(), pause(5) + QList<float>(16000, 0.002f)}, // silence
        {&hallucinating, tone(1.5) + pause(1) + tone(2.5)}};
    for (const auto &[recognition, audio] : runs) {
        RecognitionResults results;
        QVERIFY(results.recognise(*recognition->recognizer(QStringLiteral("en-US")), audio));
        QVERIFY(results.partials.isEmpty());
        QCOMPARE(results.final, QString());
    }
    QVERIFY(decodes >= 2); // the commit at the pause and the closing decode
}

void tst_WhisperSpeechRecognition::cancelEndsTheWorkerWithoutResults()
{
    RecognitionResults results;
    auto request = std::make_shared<RecognitionRequest>();
    auto task = m_recognition->recognizer(QStringLiteral("en-US"))->recognitionTask(request, results.handler());
    request->append(tone(14)); // a long tail: its partial decode is under way
    QTRY_COMPARE(task->state(), RecognitionTaskState::running);
    task->cancel();
    const qsizetype delivered = results.partialCount();
    QTRY_COMPARE_WITH_TIMEOUT(task->state(), RecognitionTaskState::completed, 2000);
    request->endAudio();
    QTest::qWait(50);
    QCOMPARE(results.partialCount(), delivered);
    QVERIFY(!results.ended());
}

QTEST_GUILESS_MAIN(tst_WhisperSpeechRecognition)
#include "tst_WhisperSpeechRecognition.moc"
