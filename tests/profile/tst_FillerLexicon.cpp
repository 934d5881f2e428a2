#include "profile/FillerLexicon.h"

#include <QtTest>

using namespace FillerLexicon;

class tst_FillerLexicon : public QObject {
    Q_OBJECT
private slots:
    void removeFillers_data();
    void removeFillers();
    void countAndDensity_data();
    void countAndDensity();
};

void tst_FillerLexicon::removeFillers_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("hesitationOnly");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("en marks pulled back onto words") << "en" << false << " Hello , world ." << "Hello, world.";
    QTest::newRow("en other marks keep their blank") << "en" << false << "wait um ; really" << "wait ; really";
    QTest::newRow("en runs of fillers") << "en" << false << "so um uh like well okay" << "okay";
    QTest::newRow("en filler inside a word stays") << "en" << false << "umbrella soap likely" << "umbrella soap likely";
    QTest::newRow("en hesitation only keeps tics")
        << "en" << true << "Um, so I was like thinking." << "so I was like thinking.";
    QTest::newRow("en only fillers") << "en" << false << "Um... uh!" << "";
    QTest::newRow("zh separated") << "zh" << false << "嗯 我觉得" << "我觉得";
    QTest::newRow("zh unseparated is one piece") << "zh" << false << "嗯我觉得" << "嗯我觉得";
    QTest::newRow("fr apostrophe and hyphens") << "fr" << false << "euh, c'est-à-dire, voilà!" << "";
    QTest::newRow("fr decomposed accent matches canonically")
        << "fr" << false << QStringLiteral("voila\u0300 c'est fini") << "c'est fini";
    QTest::newRow("de sharp s and umlaut") << "de" << false << "ÄHM das ist gewissermaßen gut" << "das ist gut";
    QTest::newRow("ru upper case") << "ru" << false << "НУ вот, короче, всё." << "всё.";
    QTest::newRow("multi-word entries stay inert") << "en" << false << "you know I mean it" << "you know I mean it";
    QTest::newRow("unknown code, hesitation only") << "xx" << true << "um hmm uh so yes" << "hmm so yes";
    QTest::newRow("unknown code, full set") << "xx" << false << "um hmm uh so yes" << "yes";

    // Spoken punctuation has run by now: line breaks and tabs are what the user dictated.
    QTest::newRow("paragraph, filler after") << "en" << false << "Dear Sam,\n\num I agree." << "Dear Sam,\n\nI agree.";
    QTest::newRow("two fillers before a line break") << "en" << false << "first um um\nsecond" << "first\nsecond";
    QTest::newRow("tab kept") << "en" << false << "Name:\tuh Sam" << "Name:\tSam";
    QTest::newRow("filler alone on its line") << "en" << false << "first point\nuh\nsecond point"
                                              << "first point\nsecond point";
    QTest::newRow("fillers alone on a CR LF line") << "en" << false << "a\r\num uh\r\nb" << "a\r\nb";
    QTest::newRow("no fillers, layout untouched") << "en" << false << "line one\n\tindented\n\nend"
                                                  << "line one\n\tindented\n\nend";
    QTest::newRow("doubled blanks still collapse") << "en" << false << "one  um  two" << "one two";
}

void tst_FillerLexicon::removeFillers()
{
    QFETCH(QString, code);
    QFETCH(bool, hesitationOnly);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(FillerLexicon::removeFillers(text, code, hesitationOnly), expected);
}

void tst_FillerLexicon::countAndDensity_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("density");
    QTest::newRow("blank only") << "en" << " \n\t " << 0 << 0.0;
    QTest::newRow("lone marks are words, not fillers") << "en" << "well , ok ." << 1 << 25.0;
    QTest::newRow("counting ignores hesitation-only") << "es" << "bueno pues si" << 2 << 100.0 * 2 / 3;
    QTest::newRow("ru mixed case") << "ru" << "Ну ВОТ да" << 2 << 100.0 * 2 / 3;
}

void tst_FillerLexicon::countAndDensity()
{
    QFETCH(QString, code);
    QFETCH(QString, text);
    QFETCH(int, count);
    QFETCH(double, density);
    QCOMPARE(countFillers(text, code), count);
    QCOMPARE(fillerDensity(text, code), density);
}

QTEST_GUILESS_MAIN(tst_FillerLexicon)
#include "tst_FillerLexicon.moc"
