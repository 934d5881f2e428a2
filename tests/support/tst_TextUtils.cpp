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
    void replacedWholeWords_data();
    void replacedWholeWords();
    void trimmedSentences();
};

void tst_TextUtils::graphemeCount_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("combining accent") << QStringLiteral("e\u0301te\u0301") << 3;
    QTest::newRow("astral emoji") << QStringLiteral("a\U0001F600b") << 3;
    QTest::newRow("family emoji") << QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467") << 1;
    QTest::newRow("cr lf is one") << QStringLiteral("a\r\nb\n\r") << 5;
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
    const QString flag = QStringLiteral("\U0001F1E9\U0001F1EA");
    QCOMPARE(TextUtils::lastGraphemes("abc" + flag, 1), flag);
    QCOMPARE(TextUtils::firstGraphemes(flag + "abc", 1), flag);
    QCOMPARE(TextUtils::firstGraphemes(QStringLiteral("abc"), 10), QStringLiteral("abc"));
    QCOMPARE(TextUtils::lastGraphemes(QStringLiteral("abc"), 0), QString());
}

void tst_TextUtils::trimmedPunctuation_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("inner kept") << QStringLiteral("\"don't.\"") << QStringLiteral("don't");
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

void tst_TextUtils::replacedWholeWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("expected");
    QTest::newRow("inside a word") << "book ok" << "ok" << "book X";
    QTest::newRow("at both ends and any case") << "OK, ok" << "ok" << "X, X";
    QTest::newRow("digit joins the word") << "ok2 ok" << "ok" << "ok2 X";
    QTest::newRow("combining mark joins the word") << QStringLiteral("ok\u0301 ok") << "ok" << QStringLiteral("ok\u0301 X");
    QTest::newRow("astral letter joins the word") << QStringLiteral("\U00010428ok ok") << "ok"
                                                  << QStringLiteral("\U00010428ok X");
    QTest::newRow("rejected match does not hide a later one") << "nana na" << "na" << "nana X";
    QTest::newRow("apostrophe inside the phrase") << "I can't." << "can't" << "I X.";
}

void tst_TextUtils::replacedWholeWords()
{
    QFETCH(QString, text);
    QFETCH(QString, from);
    QFETCH(QString, expected);
    QCOMPARE(TextUtils::replacedWholeWords(text, from, QStringLiteral("X"), Qt::CaseInsensitive), expected);
}

void tst_TextUtils::trimmedSentences()
{
    QCOMPARE(TextUtils::trimmedSentences(QStringLiteral("One.\n\nTwo? three")), QStringList({"One.", "Two?", "three"}));
    QCOMPARE(TextUtils::trimmedSentences(QStringLiteral(" \n ")), QStringList());
}

QTEST_GUILESS_MAIN(tst_TextUtils)
#include "tst_TextUtils.moc"
