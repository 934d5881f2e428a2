#include "profile/StyleAnalyzer.h"
#include "profile/VoiceProfileStore.h"

#include <QtTest>

class tst_StyleAnalyzer : public QObject {
    Q_OBJECT
private slots:
    void init();
    void blankTextRecordsNothing();
    void laterTextsMoveTheAverages();
    void formality_data();
    void formality();

private:
    // -1 when the metric was never stored.
    double metric(const char *key) { return m_store->styleMetric(QString::fromLatin1(key)).value_or(-1); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<VoiceProfileStore> m_store;
};

void tst_StyleAnalyzer::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_store = std::make_unique<VoiceProfileStore>(m_dir->filePath("profile.sqlite"));
}

void tst_StyleAnalyzer::blankTextRecordsNothing()
{
    StyleAnalyzer(*m_store).analyze(QStringLiteral(" \n\t "));
    QCOMPARE(metric("total_sessions_analyzed"), -1.0);
    QCOMPARE(metric("avg_word_length"), -1.0);
}

void tst_StyleAnalyzer::laterTextsMoveTheAverages()
{
    StyleAnalyzer analyzer(*m_store);
    analyzer.analyze(QStringLiteral("abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd")); // 10 words of 4
    analyzer.analyze(QStringLiteral("Abcdef abcdef, abcdef abcdef abcdef abcdef abcdef abcdef abcdef abcdef abcdef "
                                    "abcdef abcdef abcdef abcdef abcdef abcdef abcdef abcdef abcdef!")); // 20 of 6
    QCOMPARE(metric("avg_word_length"), 0.3 * 6.0 + 0.7 * 4.0); // punctuation is not counted
    QCOMPARE(metric("vocabulary_richness"), 0.3 * (1.0 / 20.0) + 0.7 * (1.0 / 10.0));
    analyzer.analyze(QStringLiteral("É é e\u0301 eé ÉE")); // 5 words, canonically 3 distinct
    QCOMPARE(metric("total_words_processed"), 35.0);
    QCOMPARE(metric("total_sessions_analyzed"), 3.0);
    QCOMPARE(metric("formality_score"), 0.5);
    QCOMPARE(metric("vocabulary_richness"),
             0.3 * (3.0 / 5.0) + 0.7 * (0.3 * (1.0 / 20.0) + 0.7 * (1.0 / 10.0)));
}

void tst_StyleAnalyzer::formality_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("no words") << QString() << 0.5;
    QTest::newRow("mixed") << "Yeah, therefore it is ok." << 1.0 / 3.0;
    QTest::newRow("formal") << "Moreover, THEREFORE" << 1.0;
}

void tst_StyleAnalyzer::formality()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(StyleAnalyzer::formalityScore(text.split(QLatin1Char(' '), Qt::SkipEmptyParts)), expected);
}

QTEST_GUILESS_MAIN(tst_StyleAnalyzer)
#include "tst_StyleAnalyzer.moc"
