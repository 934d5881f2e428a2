#include "support/SynthesizedSpeech.h"
#include "platform/linux/PocketsphinxSpeechRecognition.h"

#include <QtTest>

#include <mutex>

namespace {
// Everything a task hands to its handler, from whichever thread.
class Collector {
public:
    RecognitionResultHandler handler()
    {
        return [this](const std::optional<SpeechRecognitionResult> &result, const std::optional<QString> &error) {
            std::lock_guard lock(m_mutex);
            if (result)
                m_results.append(*result);
            if (error)
                m_errors.append(*error);
        };
    }
    QList<SpeechRecognitionResult> results() const
    {
        std::lock_guard lock(m_mutex);
        return m_results;
    }
    QStringList errors() const
    {
        std::lock_guard lock(m_mutex);
        return m_errors;
    }
    bool hasFinal() const
    {
        const auto all = results();
        return std::any_of(all.cbegin(), all.cend(), [](const auto &r) { return r.isFinal; });
    }
    QString finalText() const
    {
        for (const auto &r : results()) {
            if (r.isFinal)
                return r.formattedString;
        }
        return {};
    }

private:
    mutable std::mutex m_mutex;
    QList<SpeechRecognitionResult> m_results;
    QStringList m_errors;
};

void feed(RecognitionRequest &request, const QList<float> &samples)
{
    for (const auto &batch : SynthesizedSpeech::batches(samples))
        request.append(batch);
    request.endAudio();
}

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
    void sentencesAreHeard_data();
    void sentencesAreHeard();
    void sameAudioGivesSameTextEveryTime();
    void silenceEndsWithAnEmptyFinal();
    void cancelEndsTheTaskWithoutAFinal();
    void onlyLocalesWithAnInstalledModelHaveARecognizer();

private:
    std::unique_ptr<SpeechRecognizer> englishRecognizer();
    QString recognise(SpeechRecognizer &recognizer, const QList<float> &samples);

    std::unique_ptr<PocketsphinxSpeechRecognition> m_recognition;
};

void tst_PocketsphinxSpeechRecognition::initTestCase()
{
    m_recognition = std::make_unique<PocketsphinxSpeechRecognition>();
    auto recognizer = englishRecognizer();
    QVERIFY(recognizer);
    if (!recognizer->isAvailable())
        QSKIP("pocketsphinx-en-us is not installed");
    QCOMPARE(m_recognition->requestAuthorization().result(), SpeechAuthorizationStatus::authorized);
    QVERIFY(recognizer->supportsOnDeviceRecognition());
}

std::unique_ptr<SpeechRecognizer> tst_PocketsphinxSpeechRecognition::englishRecognizer()
{
    return m_recognition->recognizer(QStringLiteral("en-US"));
}

QString tst_PocketsphinxSpeechRecognition::recognise(SpeechRecognizer &recognizer, const QList<float> &samples)
{
    Collector collector;
    auto request = std::make_shared<RecognitionRequest>();
    auto task = recognizer.recognitionTask(request, collector.handler());
    feed(*request, samples);
    if (!QTest::qWaitFor([&] { return collector.hasFinal(); }, 30000))
        return QStringLiteral("<no final result>");
    return collector.finalText();
}

void tst_PocketsphinxSpeechRecognition::speechGivesPartialsThenOneFinal()
{
    const QList<float> speech = SynthesizedSpeech::samples(QStringLiteral("hello world, the weather is nice today"));
    QVERIFY(!speech.isEmpty());
    auto recognizer = englishRecognizer();
    Collector collector;
    auto request = std::make_shared<RecognitionRequest>();
    auto task = recognizer->recognitionTask(request, collector.handler());
    feed(*request, speech);
    QTRY_VERIFY_WITH_TIMEOUT(collector.hasFinal(), 30000);
    QTRY_COMPARE(task->state(), RecognitionTaskState::completed);

    const auto results = collector.results();
    QVERIFY2(results.size() >= 3, "expected several partial results before the final one");
    for (qsizetype i = 0; i + 1 < results.size(); ++i) {
        QVERIFY(!results[i].isFinal);
        QVERIFY(!results[i].formattedString.isEmpty());
    }
    QVERIFY(results.last().isFinal);
    QVERIFY2(sharesAWord(results.last().formattedString, QStringLiteral("hello world the weather is nice today")),
             qPrintable(results.last().formattedString));
    QVERIFY(collector.errors().isEmpty());
}

void tst_PocketsphinxSpeechRecognition::sentencesAreHeard_data()
{
    QTest::addColumn<QString>("sentence");
    QTest::newRow("greeting") << QStringLiteral("hello world");
    QTest::newRow("plan") << QStringLiteral("we are going to the park");
    QTest::newRow("statement") << QStringLiteral("she read the book in one afternoon");
    QTest::newRow("question") << QStringLiteral("can you send me the report before friday");
}

void tst_PocketsphinxSpeechRecognition::sentencesAreHeard()
{
    QFETCH(QString, sentence);
    auto recognizer = englishRecognizer();
    const QString heard = recognise(*recognizer, SynthesizedSpeech::samples(sentence));
    QVERIFY2(sharesAWord(heard, sentence), qPrintable(QStringLiteral("heard \"%1\"").arg(heard)));
}

void tst_PocketsphinxSpeechRecognition::sameAudioGivesSameTextEveryTime()
{
    // The second run reuses the first run's decoder.
    const QList<float> speech = SynthesizedSpeech::samples(QStringLiteral("please open the door and close the window"));
    auto recognizer = englishRecognizer();
    const QString first = recognise(*recognizer, speech);
    const QString second = recognise(*recognizer, speech);
    QVERIFY(!first.isEmpty());
    QCOMPARE(second, first);
}

void tst_PocketsphinxSpeechRecognition::silenceEndsWithAnEmptyFinal()
{
    auto recognizer = englishRecognizer();
    QCOMPARE(recognise(*recognizer, QList<float>(16000, 0.0f)), QString());
}

void tst_PocketsphinxSpeechRecognition::cancelEndsTheTaskWithoutAFinal()
{
    auto recognizer = englishRecognizer();
    Collector collector;
    auto request = std::make_shared<RecognitionRequest>();
    auto task = recognizer->recognitionTask(request, collector.handler());
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
    QVERIFY(!m_recognition->recognizer(QStringLiteral("ja-JP")));

    QTemporaryDir empty;
    PocketsphinxSpeechRecognition withoutModels(empty.path());
    auto recognizer = withoutModels.recognizer(QStringLiteral("en-US"));
    QVERIFY(recognizer);
    QVERIFY(!recognizer->isAvailable());
}

QTEST_GUILESS_MAIN(tst_PocketsphinxSpeechRecognition)
#include "tst_PocketsphinxSpeechRecognition.moc"
