#include "pipeline/SpokenPunctuation.h"

#include <QtTest>

class tst_SpokenPunctuation : public QObject {
    Q_OBJECT
private slots:
    void apply_data();
    void apply();
};

void tst_SpokenPunctuation::apply_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("inner and trailing") << "hello comma how are you question mark" << "Hello, how are you?";
    QTest::newRow("any letter case") << "one Period two PERIOD" << "One. Two.";
    QTest::newRow("phrase first stays spoken") << "period hello" << "Period hello";
    QTest::newRow("trailing blank consumed once") << "a period period b" << "A. Period b";
    QTest::newRow("back to back at the end") << "wait period period" << "Wait..";
    QTest::newRow("doubled blanks") << "hello  period  world" << "Hello .  World";
    QTest::newRow("followed by a mark is not matched") << "say comma, then" << "Say comma, then";
    QTest::newRow("after a line feed is not matched") << "one\nperiod two" << "One\nPeriod two";
    QTest::newRow("inside a word is not matched") << "the periodic table" << "The periodic table";
    QTest::newRow("dash keeps both blanks") << "one dash two" << "One --  two";
    QTest::newRow("new paragraph") << "line one new paragraph line two" << "Line one\n\n Line two";
    QTest::newRow("new line at the end") << "done new line" << "Done\n";
    // "newline" must not be eaten by "new line", "semicolon" not by "colon".
    QTest::newRow("one-word newline") << "a newline b" << "A\n B";
    QTest::newRow("semicolon whole") << "x semicolon y" << "X; y";
    QTest::newRow("table order beats length") << "hola punto y coma adios" << "Hola. Y, adios";
    QTest::newRow("accented spanish not matched") << "uno nueva línea dos" << "Uno nueva línea dos";
    QTest::newRow("japanese") << "こんにちは まる 改行 元気" << "こんにちは。\n 元気";

    // Sentence capitalisation, applied to every result.
    QTest::newRow("digits do not use up the capital") << "3 apples. 4 pears" << "3 Apples. 4 Pears";
    QTest::newRow("quotes and blanks in between") << "done! \"why?\" no" << "Done! \"Why?\" No";
    QTest::newRow("nothing lower-cased") << "iPhone. NASA" << "IPhone. NASA";
    QTest::newRow("full-width marks do not end a sentence") << "好。ok" << "好。ok";
    QTest::newRow("caseless letters use up the capital") << "好 ok. ja" << "好 ok. Ja";
    QTest::newRow("upper-case form may grow") << "ßtraße. ßo" << "SStraße. SSo";
    QTest::newRow("combining accent stays with its letter")
        << QStringLiteral("e\u0301te\u0301. e\u0301") << QStringLiteral("E\u0301te\u0301. E\u0301");
    QTest::newRow("non-latin letters") << "привет. как дела" << "Привет. Как дела";
    QTest::newRow("astral letter") << QStringLiteral("\U00010428x") << QStringLiteral("\U00010400x");
}

void tst_SpokenPunctuation::apply()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(SpokenPunctuation::apply(text), expected);
}

QTEST_GUILESS_MAIN(tst_SpokenPunctuation)
#include "tst_SpokenPunctuation.moc"
