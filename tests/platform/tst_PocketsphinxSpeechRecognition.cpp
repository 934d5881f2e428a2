#include "support/RecognitionResults.h"
#include "platform/linux/PocketsphinxSpeechRecognition.h"

#include <QtTest>

namespace {
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
}

QString tst_PocketsphinxSpeechRecognition::finalText(const QList<float> &samples, SpeechRecognizer *recognizer)
{
    RecognitionResults results;
    if (!results.recognise(recognizer ? *recognizer : *m_english, samples, 30'000) || results.error)
        return QStringLiteral("<no final result>");
    return *results.final;
}

void tst_PocketsphinxSpeechRecognition::speechGivesPartialsThenOneFinal()
{
    const QString sentence = QStringLiteral("hello world, the weather is nice today");
    const QList<float> speech = SynthesizedSpeech::samples(sentence);
    QVERIFY(!speech.isEmpty());
    RecognitionResults results;
    QVERIFY2(results.recognise(*m_english, speech, 30'000), "no final result, or the task never completed");
    QVERIFY2(!results.error, qPrintable(results.error.value_or(QString())));
    QVERIFY(results.partials.size() >= 2);
    QVERIFY(!results.partials.contains(QString()));
    QVERIFY2(sharesAWord(*results.final, sentence), qPrintable(*results.final));
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
    RecognitionResults results;
    auto request = std::make_shared<RecognitionRequest>();
    auto task = m_english->recognitionTask(request, results.handler());
    request->append(SynthesizedSpeech::samples(QStringLiteral("hello world")));
    task->cancel();
    QVERIFY(task->state() == RecognitionTaskState::canceling || task->state() == RecognitionTaskState::completed);
    QTRY_COMPARE(task->state(), RecognitionTaskState::completed);
    request->endAudio();
    QTest::qWait(100);
    QVERIFY(!results.ended());
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
