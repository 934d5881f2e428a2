#include "platform/fake/FakeLexicalTagger.h"
#include "profile/InsightEngine.h"

#include <QtTest>

using Tag = LexicalTagger::Tag;

class tst_InsightEngine : public QObject {
    Q_OBJECT
private slots:
    void countsNounsAcrossSessionsOnTheMainThread();
    void extractsOnlyAcceptedTagsOfThreeCharacters();
    void taggingLanguage_data();
    void taggingLanguage();
    void aDestroyedEngineIgnoresLateResults();
};

void tst_InsightEngine::countsNounsAcrossSessionsOnTheMainThread()
{
    FakeLexicalTagger tagger;
    tagger.setTag("Budget", Tag::noun);
    tagger.setTag("budget", Tag::noun);
    InsightEngine engine(&tagger);
    engine.recordSession("Budget talks: budget!", 3, 3.0, "en");
    engine.recordSession("budget", 1, 1.0, "en");
    QTRY_COMPARE(engine.sessionNounBuffer().value("budget"), 3);
}

void tst_InsightEngine::extractsOnlyAcceptedTagsOfThreeCharacters()
{
    FakeLexicalTagger tagger;
    const QList<std::pair<const char *, Tag>> tags{{"report", Tag::noun},           {"Ada", Tag::personalName},
                                                   {"Acme", Tag::organizationName}, {"Rome", Tag::placeName},
                                                   {"tv", Tag::noun},               {"write", Tag::verb}};
    for (const auto &[word, tag] : tags)
        tagger.setTag(word, tag);
    QCOMPARE(InsightEngine::extractNouns("Ada, write the report over tv for Acme in Rome", "en", tagger),
             QStringList({"ada", "report", "acme", "rome"}));
}

void tst_InsightEngine::taggingLanguage_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("language");
    QTest::newRow("unknown but well formed") << "xx" << "xx";
    QTest::newRow("upper case") << "FR" << "fr";
    QTest::newRow("not a code") << "1!" << "en";
}

void tst_InsightEngine::taggingLanguage()
{
    QFETCH(QString, code);
    QFETCH(QString, language);
    FakeLexicalTagger tagger;
    InsightEngine::extractNouns("text", code, tagger);
    QCOMPARE(tagger.requestedLanguages(), QStringList{language});
}

void tst_InsightEngine::aDestroyedEngineIgnoresLateResults()
{
    FakeLexicalTagger tagger;
    tagger.setTag("noun", Tag::noun);
    {
        InsightEngine engine(&tagger);
        engine.recordSession("noun noun", 2, 1.0, "en");
    } // waits for the tagging
    QCoreApplication::processEvents(); // the hop back finds no engine and does nothing
    QCOMPARE(tagger.requestedLanguages(), QStringList{"en"});
}

QTEST_GUILESS_MAIN(tst_InsightEngine)
#include "tst_InsightEngine.moc"
