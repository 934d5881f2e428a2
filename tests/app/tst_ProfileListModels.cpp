#include "app/CustomTermListModel.h"
#include "app/SnippetListModel.h"
#include "app/TopWordListModel.h"

#include <QtTest>

using CustomTerm = VoiceProfileStore::CustomTerm;
using Snippet = VoiceProfileStore::Snippet;

// The dictionary and snippet lists over a real profile database.
class tst_ProfileListModels : public QObject {
    Q_OBJECT
private slots:
    void init();
    void searchFilters_data();
    void searchFilters();
    void addedTermsShowNewestFirstAndDeletedOnesGo();
    void topWordsAreTheThirtyMostFrequent();
    void savingAnExistingShortcutReplacesItsSnippet();

private:
    QStringList column(const QAbstractItemModel &model, int role) const;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<VoiceProfileStore> m_store;
    QDateTime m_now;
};

void tst_ProfileListModels::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_store = std::make_unique<VoiceProfileStore>(m_dir->filePath(QStringLiteral("voice_profile.sqlite")));
    // every write a second later, so "newest first" is decided
    m_now = QDateTime(QDate(2026, 3, 1), QTime(9, 0));
    m_store->setClock([this] { return m_now = m_now.addSecs(1); });
}

QStringList tst_ProfileListModels::column(const QAbstractItemModel &model, int role) const
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values << model.index(row, 0).data(role).toString();
    return values;
}

void tst_ProfileListModels::searchFilters_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<bool>("btwTerm");   // "btw" -> "by the way"
    QTest::addColumn<bool>("autoTerm");  // "kubernetes", no replacement
    QTest::addColumn<bool>("word");      // "wayfarer"
    QTest::addColumn<bool>("snippet");   // "/addr", "12 Main Street", "Address"
    QTest::newRow("empty keeps all") << "" << true << true << true << true;
    QTest::newRow("term matches") << "Kube" << false << true << false << false;
    QTest::newRow("shortcut") << "addr" << false << false << false << true;
    QTest::newRow("expansion") << "main st" << false << false << false << true;
    QTest::newRow("category") << "ADDRESS" << false << false << false << true;
    QTest::newRow("not trimmed") << " way" << true << false << false << false;
}

void tst_ProfileListModels::searchFilters()
{
    QFETCH(QString, search);
    QFETCH(bool, btwTerm);
    QFETCH(bool, autoTerm);
    QFETCH(bool, word);
    QFETCH(bool, snippet);
    QCOMPARE(CustomTermListModel::matches({"btw", QStringLiteral("by the way"), "manual"}, search),
             btwTerm);
    QCOMPARE(CustomTermListModel::matches({"kubernetes", std::nullopt, "auto"}, search),
             autoTerm);
    QCOMPARE(TopWordListModel::matches({"wayfarer", 3}, search), word);
    QCOMPARE(SnippetListModel::matches({"/addr", "12 Main Street", "Address", 0}, search),
             snippet);
}

void tst_ProfileListModels::addedTermsShowNewestFirstAndDeletedOnesGo()
{
    CustomTermListModel terms(*m_store);
    m_store->addAutoTerm(QStringLiteral("kubernetes"), QStringLiteral("en"));
    terms.reload();
    QVERIFY(terms.addTerm(QStringLiteral("BTW"), QStringLiteral("by the way")));
    QVERIFY(terms.addTerm(QStringLiteral("asap"), QString()));
    QVERIFY(!terms.addTerm(QString(), QStringLiteral("ignored")));
    QCOMPARE(column(terms, CustomTermListModel::TermRole), QStringList({"asap", "btw", "kubernetes"}));
    QCOMPARE(column(terms, CustomTermListModel::ReplacementRole), QStringList({"", "by the way", ""}));
    QCOMPARE(column(terms, CustomTermListModel::SourceRole), QStringList({"manual", "manual", "auto"}));

    QSignalSpy count(&terms, &SearchableListModel::countChanged);
    terms.setSearchText(QStringLiteral("WAY"));
    QCOMPARE(column(terms, CustomTermListModel::TermRole), QStringList({"btw"}));
    terms.removeTerm(QStringLiteral("btw"));
    QCOMPARE(terms.count(), 0);
    terms.setSearchText(QString());
    QCOMPARE(column(terms, CustomTermListModel::TermRole), QStringList({"asap", "kubernetes"}));
    QCOMPARE(count.size(), 3);
}

void tst_ProfileListModels::topWordsAreTheThirtyMostFrequent()
{
    QStringList words;
    for (int i = 0; i < 40; ++i) {
        for (int n = 0; n <= i; ++n)
            words << QStringLiteral("word%1").arg(i);
    }
    m_store->recordWords(words, QStringLiteral("en"));
    TopWordListModel top(*m_store);
    top.reload();
    QCOMPARE(top.count(), TopWordListModel::limit);
    QCOMPARE(top.index(0, 0).data(TopWordListModel::FrequencyRole).toInt(), 40);
    top.setSearchText(QStringLiteral("WORD1"));
    QCOMPARE(column(top, TopWordListModel::WordRole), QStringList({"word19", "word18", "word17", "word16", "word15",
                                                                   "word14", "word13", "word12", "word11", "word10"}));
}

void tst_ProfileListModels::savingAnExistingShortcutReplacesItsSnippet()
{
    SnippetListModel snippets(*m_store);
    QVERIFY(snippets.saveSnippet(QStringLiteral("/addr"), QStringLiteral("12 Main Street"), QStringLiteral("Address")));
    QVERIFY(snippets.saveSnippet(QStringLiteral("/sig"), QStringLiteral("Best, Ann"), QStringLiteral("Email")));
    QVERIFY(snippets.saveSnippet(QStringLiteral("/addr"), QStringLiteral("7 Elm Road"), QStringLiteral("Custom")));
    QVERIFY(!snippets.saveSnippet(QStringLiteral("/x"), QString(), QStringLiteral("General")));
    QVERIFY(!snippets.saveSnippet(QString(), QStringLiteral("text"), QStringLiteral("General")));
    // kept exactly as typed, spaces and all
    QVERIFY(snippets.saveSnippet(QStringLiteral("  "), QStringLiteral("blank"), QStringLiteral("General")));
    // newest first; a replaced snippet keeps its place
    QCOMPARE(column(snippets, SnippetListModel::ShortcutRole), QStringList({"  ", "/sig", "/addr"}));
    QCOMPARE(column(snippets, SnippetListModel::ExpansionRole), QStringList({"blank", "Best, Ann", "7 Elm Road"}));
    QCOMPARE(column(snippets, SnippetListModel::CategoryRole), QStringList({"General", "Email", "Custom"}));

    snippets.deleteSnippet(QStringLiteral("/addr"));
    QCOMPARE(column(snippets, SnippetListModel::ShortcutRole), QStringList({"  ", "/sig"}));
}

QTEST_GUILESS_MAIN(tst_ProfileListModels)
#include "tst_ProfileListModels.moc"
