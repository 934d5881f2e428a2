#include "SqliteProbe.h"

#include "platform/fake/FakeLexicalTagger.h"
#include "profile/AdaptiveLearningEngine.h"
#include "profile/InsightEngine.h"
#include "profile/VoiceProfileStore.h"

#include <QtTest>

using Stats = AdaptiveLearningEngine::SessionStats;

class tst_AdaptiveLearningEngine : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void learnsFromARealDictation();
    void countsOnlyNewVocabularyRows();
    void emptyTranscriptLogsAnEmptySession();
    void buildsBigramsAndTrigrams_data();
    void buildsBigramsAndTrigrams();
    void recordsDroppedWordsButNotFillers();

    void customDictionary_data();
    void customDictionary();

private:
    // What another connection sees once every queued write has run.
    QStringList rows(const char *sql)
    {
        m_store->vocabularyCount();
        return sqliteRows(m_dir->filePath("profile.sqlite"), sql);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<VoiceProfileStore> m_store;
    FakeLexicalTagger m_tagger;
    std::unique_ptr<InsightEngine> m_insights;
    std::unique_ptr<AdaptiveLearningEngine> m_engine;
};

void tst_AdaptiveLearningEngine::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_store = std::make_unique<VoiceProfileStore>(m_dir->filePath("profile.sqlite"));
    m_insights = std::make_unique<InsightEngine>(&m_tagger);
    m_engine = std::make_unique<AdaptiveLearningEngine>(*m_store, *m_insights);
}

void tst_AdaptiveLearningEngine::cleanup()
{
    m_engine.reset();
    m_insights.reset(); // waits for its tagging, which holds the fake tagger
    m_store.reset();
}

void tst_AdaptiveLearningEngine::learnsFromARealDictation()
{
    m_tagger.setTag("deck", LexicalTagger::Tag::noun);
    const QString raw = QStringLiteral("Um, so I was like thinking we should send the PowerPoint deck to YouTube "
                                       "tomorrow. Basically the iPhone demo is wonderful.");
    const QString final = QStringLiteral("I think we should send the PowerPoint deck to YouTube tomorrow. The iPhone "
                                         "demo is wonderful.");
    QSignalSpy changed(m_engine.get(), &AdaptiveLearningEngine::lastSessionStatsChanged);

    const Stats stats = m_engine->learnFromSession(raw, final, 12.0, LanguageOption::english);

    const QString cleaned = QStringLiteral("I was thinking we should send the PowerPoint deck to YouTube tomorrow. "
                                           "the iPhone demo is wonderful.");
    QCOMPARE(stats.cleanedText, cleaned);
    QCOMPARE(stats.fillerCount, 4); // um, so, like, basically
    QCOMPARE(stats.fillerDensity, 400.0 / 21.0);
    // the new rows are known once the store has run the session
    QTRY_COMPARE(changed.count(), 1);
    Stats published = stats;
    published.uniqueWordsAdded = 15; // 16 words of two or more characters, "the" twice
    QCOMPARE(m_engine->lastSessionStats(), std::optional<Stats>(published));

    QCOMPARE(rows("SELECT frequency, language FROM vocabulary WHERE word = 'the'"), QStringList{"2|en"});
    QCOMPARE(rows("SELECT COUNT(*) FROM phrases"), QStringList{"29"}); // 15 bigrams + 14 trigrams
    QCOMPARE(rows("SELECT term FROM custom_dictionary WHERE source = 'auto' ORDER BY term"),
             QStringList({"iphone", "powerpoint", "thinking", "tomorrow", "wonderful", "youtube"}));
    QCOMPARE(rows("SELECT word_count, language, raw_transcript, rewritten_text, duration_seconds FROM session_log"),
             QStringList{"17|en|" + raw + "|" + final + "|12.0"});
    // "was" was dropped and "thinking" changed; "think" was only added
    QCOMPARE(rows("SELECT original, corrected FROM corrections ORDER BY original"),
             QStringList({"thinking|[removed]", "was|[removed]"}));
    // The final text is what the style comes from: 2 sentences, 16 words
    QCOMPARE(m_store->styleMetric("avg_sentence_length"), std::optional<double>(8.0));
    QCOMPARE(m_store->styleMetric("total_words_processed"), std::optional<double>(16.0));

    QTRY_COMPARE(m_insights->sessionNounBuffer().value("deck"), 1);
    QCOMPARE(m_tagger.requestedLanguages(), QStringList{"en"});
}

void tst_AdaptiveLearningEngine::countsOnlyNewVocabularyRows()
{
    // Without a final text the cleaned one is what style and corrections see.
    QSignalSpy changed(m_engine.get(), &AdaptiveLearningEngine::lastSessionStatsChanged);
    m_engine->learnFromSession("um alpha beta gamma", "", 3, LanguageOption::english);
    m_engine->learnFromSession("Alpha beta delta delta", "", 3, LanguageOption::german);
    QTRY_COMPARE(changed.count(), 2);
    QCOMPARE(m_engine->lastSessionStats()->uniqueWordsAdded, 1);
    QCOMPARE(rows("SELECT word, frequency, language FROM vocabulary ORDER BY word"),
             QStringList({"alpha|2|en", "beta|2|en", "delta|2|de", "gamma|1|en"}));
    QCOMPARE(m_store->styleMetric("total_words_processed"), std::optional<double>(7.0));
    QCOMPARE(rows("SELECT COUNT(*) FROM corrections"), QStringList{"0"});
}

void tst_AdaptiveLearningEngine::emptyTranscriptLogsAnEmptySession()
{
    QCOMPARE(m_engine->learnFromSession("", "", 0, LanguageOption::english), (Stats{0, 0, 0.0, 0, ""}));
    QCOMPARE(rows("SELECT word_count FROM session_log"), QStringList{"0"});
    QCOMPARE(rows("SELECT COUNT(*) FROM vocabulary"), QStringList{"0"});
}

void tst_AdaptiveLearningEngine::buildsBigramsAndTrigrams_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QStringList>("phrases");
    QTest::newRow("four words") << "we go to it"
                                << QStringList{"go to", "go to it", "to it", "we go", "we go to"};
}

void tst_AdaptiveLearningEngine::buildsBigramsAndTrigrams()
{
    QFETCH(QString, raw);
    QFETCH(QStringList, phrases);
    m_engine->learnFromSession(raw, raw, 1, LanguageOption::english);
    QCOMPARE(rows("SELECT phrase FROM phrases ORDER BY phrase"), phrases);
}

void tst_AdaptiveLearningEngine::recordsDroppedWordsButNotFillers()
{
    m_engine->learnFromSession("send the the report", "send the report", 2, LanguageOption::english);
    m_engine->learnFromSession("um send it", "send it", 2, LanguageOption::english);
    // English fillers are never corrections, even in a Spanish session
    m_engine->learnFromSession("actually bueno vale", "bueno vale", 2, LanguageOption::spanish);
    m_engine->learnFromSession("Send the the report.", "send the report", 2, LanguageOption::english);
    QCOMPARE(rows("SELECT original, corrected, frequency FROM corrections"), QStringList{"the|[removed]|2"});
}

void tst_AdaptiveLearningEngine::customDictionary_data()
{
    using Terms = QList<std::pair<QString, QString>>; // oldest first
    QTest::addColumn<Terms>("terms");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("word boundary") << Terms{{"btw", "by the way"}} << "btw, btws" << "by the way, btws";
    QTest::newRow("non-ASCII term") << Terms{{"Café", "Café Nero"}} << "CAFÉ time, cafés later"
                                    << "Café Nero time, cafés later";
    QTest::newRow("decomposed text") << Terms{{"café", "Café Nero"}} << "cafe\u0301!" << "Café Nero!";
    QTest::newRow("only the replaced span is composed") << Terms{{"teh", "the"}} << "cafe\u0301 teh"
                                                        << "cafe\u0301 the";
    QTest::newRow("cyrillic boundary") << Terms{{"привет", "Hello"}} << "Привет мир, приветствие"
                                       << "Hello мир, приветствие";
    QTest::newRow("metacharacters are literal") << Terms{{"a.b", "X"}} << "a.b axb" << "X axb";
    QTest::newRow("closing boundary needs a word character")
        << Terms{{"mr.", "Mister"}} << "mr. Smith, mr.Smith" << "mr. Smith, MisterSmith";
    QTest::newRow("$0 is the match") << Terms{{"acme", "[$0]"}} << "ACME rocks" << "[ACME] rocks";
    QTest::newRow("backslash escapes") << Terms{{"acme", "\\$0 \\\\"}} << "acme" << "$0 \\";
    QTest::newRow("newest term first, then older ones on its output")
        << Terms{{"aa", "bb"}, {"cc", "aa"}} << "cc" << "bb";
    QTest::newRow("blank term never applies") << Terms{{" ", "_"}, {"", "_"}} << "a b c" << "a b c";
}

void tst_AdaptiveLearningEngine::customDictionary()
{
    using Terms = QList<std::pair<QString, QString>>;
    QFETCH(Terms, terms);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QDateTime now = QDateTime::currentDateTime();
    m_store->setClock([&now] { return now; });
    m_store->addCustomTerm("untouched", std::nullopt, "en");
    for (const auto &[term, replacement] : terms) {
        now = now.addSecs(1);
        m_store->addCustomTerm(term, replacement, "en");
    }
    QCOMPARE(m_engine->applyCustomDictionary(text), expected);
}

QTEST_GUILESS_MAIN(tst_AdaptiveLearningEngine)
#include "tst_AdaptiveLearningEngine.moc"
