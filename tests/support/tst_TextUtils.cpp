#include "support/TextUtils.h"

#include <QtTest>

class tst_TextUtils : public QObject {
    Q_OBJECT
private slots:
    void graphemeCount_data();
    void graphemeCount();
    void graphemeSlicesKeepClustersWhole();
    void trimmedPunctuation_data();
    void trimmedPunctuation();
    void nfcMakesCanonicalFormsEqual();
    void replacedWholeWords_data();
    void replacedWholeWords();
    void trimmedSentences_data();
    void trimmedSentences();
};

void tst_TextUtils::graphemeCount_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("ascii") << QStringLiteral("hello") << 5;
    QTest::newRow("combining accent") << QStringLiteral("e\u0301te\u0301") << 3;
    QTest::newRow("astral emoji") << QStringLiteral("a\U0001F600b") << 3;
    QTest::newRow("family emoji") << QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467") << 1;
    QTest::newRow("flag") << QStringLiteral("\U0001F1E9\U0001F1EA") << 1;
    QTest::newRow("cr lf is one") << QStringLiteral("a\r\nb\n\r") << 5;
    QTest::newRow("latin then accent") << QStringLiteral("abc\u0301 d") << 5;
    QTest::newRow("hangul jamo") << QStringLiteral("x\u1100\u1161y") << 3;
}

void tst_TextUtils::graphemeCount()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(TextUtils::graphemeCount(text), expected);
}

void tst_TextUtils::graphemeSlicesKeepClustersWhole()
{
    QCOMPARE(TextUtils::lastGraphemes(QStringLiteral("abc\U0001F1E9\U0001F1EA"), 1),
             QStringLiteral("\U0001F1E9\U0001F1EA"));
    QCOMPARE(TextUtils::lastGraphemes(QStringLiteral("abc"), 10), QStringLiteral("abc"));
    QCOMPARE(TextUtils::lastGraphemes(QStringLiteral("abc"), 0), QString());
    QCOMPARE(TextUtils::firstGraphemes(QStringLiteral("\U0001F1E9\U0001F1EAabc"), 1),
             QStringLiteral("\U0001F1E9\U0001F1EA"));
    QCOMPARE(TextUtils::firstGraphemes(QStringLiteral("abc"), 10), QStringLiteral("abc"));
    QCOMPARE(TextUtils::firstGraphemes(QStringLiteral("abc"), 0), QString());
}

void tst_TextUtils::trimmedPunctuation_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << QStringLiteral("word") << QStringLiteral("word");
    QTest::newRow("both ends") << QStringLiteral("\"word!\"") << QStringLiteral("word");
    QTest::newRow("inner kept") << QStringLiteral("don't.") << QStringLiteral("don't");
    QTest::newRow("unicode marks") << QStringLiteral("«¿qué?»") << QStringLiteral("qué");
    QTest::newRow("cjk full stop") << QStringLiteral("你好。") << QStringLiteral("你好");
    QTest::newRow("only marks") << QStringLiteral("...") << QString();
    QTest::newRow("symbols are not punctuation") << QStringLiteral("$5+") << QStringLiteral("$5+");
}

void tst_TextUtils::trimmedPunctuation()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(TextUtils::trimmedPunctuation(text), expected);
}

void tst_TextUtils::nfcMakesCanonicalFormsEqual()
{
    QCOMPARE(TextUtils::nfc(QStringLiteral("cafe\u0301")), QStringLiteral("caf\u00e9"));
}

void tst_TextUtils::replacedWholeWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("expected");
    QTest::newRow("inside a word") << QStringLiteral("book ok") << QStringLiteral("ok") << QStringLiteral("book X");
    QTest::newRow("at both ends and any case") << QStringLiteral("OK, ok") << QStringLiteral("ok")
                                               << QStringLiteral("X, X");
    QTest::newRow("digit joins the word") << QStringLiteral("ok2 ok") << QStringLiteral("ok") << QStringLiteral("ok2 X");
    QTest::newRow("combining mark joins the word") << QStringLiteral("ok\u0301 ok") << QStringLiteral("ok")
                                                   << QStringLiteral("ok\u0301 X");
    QTest::newRow("astral letter joins the word") << QStringLiteral("\U00010428ok ok") << QStringLiteral("ok")
                                                  << QStringLiteral("\U00010428ok X");
    QTest::newRow("rejected match does not hide a later one") << QStringLiteral("nana na") << QStringLiteral("na")
                                                              << QStringLiteral("nana X");
    QTest::newRow("apostrophe inside the phrase") << QStringLiteral("I can't.") << QStringLiteral("can't")
                                                  << QStringLiteral("I X.");
}

void tst_TextUtils::replacedWholeWords()
{
    QFETCH(QString, text);
    QFETCH(QString, from);
    QFETCH(QString, expected);
    QCOMPARE(TextUtils::replacedWholeWords(text, from, QStringLiteral("X"), Qt::CaseInsensitive), expected);
}

void tst_TextUtils::trimmedSentences_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("two") << QStringLiteral("Hello world. How are you?")
                         << QStringList{QStringLiteral("Hello world."), QStringLiteral("How are you?")};
    QTest::newRow("blank") << QStringLiteral(" \n ") << QStringList{};
    QTest::newRow("line breaks trimmed") << QStringLiteral("One.\n\nTwo")
                                         << QStringList{QStringLiteral("One."), QStringLiteral("Two")};
    QTest::newRow("no terminator") << QStringLiteral("just words") << QStringList{QStringLiteral("just words")};
}

void tst_TextUtils::trimmedSentences()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QCOMPARE(TextUtils::trimmedSentences(text), expected);
}

QTEST_GUILESS_MAIN(tst_TextUtils)
#include "tst_TextUtils.moc"
