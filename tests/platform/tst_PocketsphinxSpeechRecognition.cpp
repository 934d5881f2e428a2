#include "support/SynthesizedSpeech.h"
#include "platform/linux/PocketsphinxSpeechRecognition.h"

#include <QtTest>

#include <mutex>

namespace {
// Everything a task hands to its handler, from whichever thread.
struct Collector {
    mutable std::mutex mutex;
    QList<SpeechRecognitionResult> results;
    QStringList errors;

    RecognitionResultHandler handler()
    {
        return [this](const std::optional<SpeechRecognitionResult> &result, const std::optional<QString> &error) {
            std::lock_guard lock(mutex);
            if (result)
                results.append(*result);
            if (error)
                errors.append(*error);
        };
    }
    QList<SpeechRecognitionResult> snapshot() const
    {
        std::lock_guard lock(mutex);
        return results;
    }
    bool hasFinal() const
    {
        const auto all = snapshot();
        return std::any_of(all.cbegin(), all.cend(), [](const auto &r) { return r.isFinal; });
    }
};

// A spoken word of four letters or more was heard (short function words
// come out of almost any audio).
bool sharesAWord(const QString &heard, const QString &spoken)
{
    const QStringList spokenWords = spoken.toLower().remove(QRegularExpression(QStringLiteral("[^a-z ]"))).split(u' ');
    const QStringList heardWords = heard.toLower().split(u' ', Qt::SkipEmptyParts);
    return std::any_of(heardWords.cbegin(), heardWords.cend(),
                       [&](const QString &w) { return w.size() >= 4 && spokenWords.contains(w); });
}
} // namespace

class tst_PocketsphinxSpeechRecognition : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void speechGivesPartialsThenOneFinal();
    void sameAudioGivesSameTextWhateverCameBefore();
    void silenceEndsWithAnEmptyFinal();
    void cancelEndsTheTaskWithoutAFinal();
    void onlyLocalesWithAnInstalledModelHaveARecognizer();

private:
    // Feeds the samples in capture-sized batches, ends the audio and waits for the final result.
    QList<SpeechRecognitionResult> recognise(const QList<float> &samples, Collector &collector,
                                             SpeechRecognizer *recognizer = nullptr);
    QString finalText(const QList<float> &samples, SpeechRecognizer *recognizer = nullptr);

    std::unique_ptr<PocketsphinxSpeechRecognition> m_recognition;
    std::unique_ptr<SpeechRecognizer> m_english;
};

void tst_PocketsphinxSpeechRecognition::initTestCase()
{
    m_recognition = std::make_unique<PocketsphinxSpeechRecognition>();
    m_english = m_recognition->recognizer(QStringLiteral("en-US"));
    QVERIFY(m_english);
    if (!m_english->isAvailable())
        QSKIP("pocketsphinx-en-us is not installed");
    QCOMPARE(m_recognition->requestAuthorization().result(), SpeechAuthorizationStatus::authorized);
    QVERIFY(m_english->supportsOnDeviceRecognition());
}

QList<SpeechRecognitionResult> tst_PocketsphinxSpeechRecognition::recognise(const QList<float> &samples,
                                                                            Collector &collector,
                                                                            SpeechRecognizer *recognizer)
{
    auto request = std::make_shared<RecognitionRequest>();
    auto task = (recognizer ? recognizer : m_english.get())->recognitionTask(request, collector.handler());
    for (const auto &batch : SynthesizedSpeech::batches(samples))
        request->append(batch);
    request->endAudio();
    if (!QTest::qWaitFor([&] { return collector.hasFinal(); }, 30000)
        || !QTest::qWaitFor([&] { return task->state() == RecognitionTaskState::completed; }, 5000))
        return {};
    return collector.snapshot();
}

QString tst_PocketsphinxSpeechRecognition::finalText(const QList<float> &samples, SpeechRecognizer *recognizer)
{
    Collector collector;
    const auto results = recognise(samples, collector, recognizer);
    return results.isEmpty() ? QStringLiteral("<no final result>") : results.last().formattedString;
}

void tst_PocketsphinxSpeechRecognition::speechGivesPartialsThenOneFinal()
{
    const QString sentence = QStringLiteral("hello world, the weather is nice today");
    const QList<float> speech = SynthesizedSpeech::samples(sentence);
    QVERIFY(!speech.isEmpty());
    Collector collector;
    const auto results = recognise(speech, collector);
    QVERIFY2(!results.isEmpty(), "no final result, or the task never completed");
    QVERIFY(results.size() > 2);
    for (qsizetype i = 0; i + 1 < results.size(); ++i) {
        QVERIFY(!results[i].isFinal);
        QVERIFY(!results[i].formattedString.isEmpty());
    }
    QVERIFY(results.last().isFinal);
    QVERIFY2(sharesAWord(results.last().formattedString, sentence), qPrintable(results.last().formattedString));
    QVERIFY(collector.errors.isEmpty());
}

void tst_PocketsphinxSpeechRecognition::sameAudioGivesSameTextWhateverCameBefore()
{
    const QList<float> speech = SynthesizedSpeech::samples(QStringLiteral("please open the door and close the window"));
    PocketsphinxSpeechRecognition fresh;
    const QString expected = finalText(speech, fresh.recognizer(QStringLiteral("en-US")).get());
    QVERIFY(!expected.isEmpty());
    // The shared recogniser's decoder is reused: loud noise first, then the speech.
    QList<float> noise(48000);
    quint32 seed = 1;
    for (float &sample : noise)
        sample = float((seed = seed * 1664525u + 1013904223u) >> 8) / float(1 << 24) - 0.5f;
    finalText(noise);
    QCOMPARE(finalText(speech), expected);
}

void tst_PocketsphinxSpeechRecognition::silenceEndsWithAnEmptyFinal()
{
    QCOMPARE(finalText(QList<float>(16000, 0.0f)), QString());
}

void tst_PocketsphinxSpeechRecognition::cancelEndsTheTaskWithoutAFinal()
{
    Collector collector;
    auto request = std::make_shared<RecognitionRequest>();
    auto task = m_english->recognitionTask(request, collector.handler());
    request->append(SynthesizedSpeech::samples(QStringLiteral("hello world")));
    task->cancel();
    QVERIFY(task->state() == RecognitionTaskState::canceling || task->state() == RecognitionTaskState::completed);
    QTRY_COMPARE(task->state(), RecognitionTaskState::completed);
    request->endAudio();
    QTest::qWait(100);
    QVERIFY(!collector.hasFinal());
}

void tst_PocketsphinxSpeechRecognition::onlyLocalesWithAnInstalledModelHaveARecognizer()
{
    QVERIFY(!m_recognition->recognizer(QStringLiteral("de-DE")));
    QTemporaryDir empty;
    PocketsphinxSpeechRecognition withoutModels(empty.path());
    auto recognizer = withoutModels.recognizer(QStringLiteral("en-US"));
    QVERIFY(recognizer);
    QVERIFY(!recognizer->isAvailable());
}

QTEST_GUILESS_MAIN(tst_PocketsphinxSpeechRecognition)
#include "tst_PocketsphinxSpeechRecognition.moc"
