#include "platform/linux/RuleBasedLexicalTagger.h"

#include <QtTest>

#include <algorithm>

using Tag = LexicalTagger::Tag;
Q_DECLARE_METATYPE(LexicalTagger::Tag)

class tst_RuleBasedLexicalTagger : public QObject {
    Q_OBJECT
private slots:
    void tagsWordsInContext_data();
    void tagsWordsInContext();
    void keepsEveryCharacterInOrder();
    void leavesOtherLanguagesUntagged();
};

void tst_RuleBasedLexicalTagger::tagsWordsInContext_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("word");
    QTest::addColumn<Tag>("expected");

    // Insights count only nouns and names: other tags matter where a word could be either.
    const QString meeting = QStringLiteral("The budget meeting with Sarah in Boston went well.");
    QTest::newRow("noun after determiner") << meeting << "budget" << Tag::noun;
    QTest::newRow("-ing after a noun") << meeting << "meeting" << Tag::noun;
    QTest::newRow("name") << meeting << "Sarah" << Tag::personalName;
    QTest::newRow("place after in") << meeting << "Boston" << Tag::placeName;

    const QString report = QStringLiteral("She quickly reviewed the quarterly reports for Acme Inc and NASA.");
    QTest::newRow("plural of a verb after a determiner") << report << "reports" << Tag::noun;
    QTest::newRow("company before suffix") << report << "Acme" << Tag::organizationName;
    QTest::newRow("acronym") << report << "NASA" << Tag::organizationName;

    QTest::newRow("object after verb") << QStringLiteral("please send reports") << "reports" << Tag::noun;
    QTest::newRow("verb after to") << QStringLiteral("I want to call Tom") << "call" << Tag::verb;
    QTest::newRow("noun use of a verb") << QStringLiteral("I missed the call") << "call" << Tag::noun;
    QTest::newRow("possessive name") << QStringLiteral("we saw Maria's car") << "Maria's" << Tag::personalName;
    QTest::newRow("noun after possessive") << QStringLiteral("we saw Maria's car") << "car" << Tag::noun;
    QTest::newRow("capital at sentence start is not a name")
        << QStringLiteral("Hello there. Budget talks resume") << "Budget" << Tag::noun;
    QTest::newRow("number") << QStringLiteral("in 2026 we grew") << "2026" << Tag::number;
}

void tst_RuleBasedLexicalTagger::tagsWordsInContext()
{
    QFETCH(QString, text);
    QFETCH(QString, word);
    QFETCH(Tag, expected);
    const auto tokens = RuleBasedLexicalTagger().tag(text, QStringLiteral("en"));
    const auto token = std::find_if(tokens.begin(), tokens.end(), [&](const auto &t) { return t.text == word; });
    QVERIFY(token != tokens.end() && token->tag.has_value());
    QCOMPARE(int(*token->tag), int(expected));
}

void tst_RuleBasedLexicalTagger::keepsEveryCharacterInOrder()
{
    const QString text = QStringLiteral("  Hi, Zoë—it's 5 o'clock!\n");
    const auto tokens = RuleBasedLexicalTagger().tag(text, QStringLiteral("en"));
    QString joined;
    for (const auto &token : tokens) {
        joined += token.text;
        QVERIFY(token.tag.has_value());
    }
    QCOMPARE(joined, text);
    QCOMPARE(int(*tokens.first().tag), int(Tag::whitespace));
    QCOMPARE(int(*tokens.last().tag), int(Tag::whitespace));
}

void tst_RuleBasedLexicalTagger::leavesOtherLanguagesUntagged()
{
    const auto tokens = RuleBasedLexicalTagger().tag(QStringLiteral("Der Hund läuft."), QStringLiteral("de"));
    QCOMPARE(int(*tokens.first().tag), int(Tag::otherWord));
    QCOMPARE(int(*tokens.last().tag), int(Tag::punctuation));
}

QTEST_GUILESS_MAIN(tst_RuleBasedLexicalTagger)
#include "tst_RuleBasedLexicalTagger.moc"
