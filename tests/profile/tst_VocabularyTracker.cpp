#include "profile/VocabularyTracker.h"
#include "profile/VoiceProfileStore.h"

#include <QtTest>

class tst_VocabularyTracker : public QObject {
    Q_OBJECT
private slots:
    void detectsTerms_data();
    void detectsTerms();
};

void tst_VocabularyTracker::detectsTerms_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QStringList>("stored");
    QTest::newRow("short inner capital") << "McD" << QStringList{};
    QTest::newRow("long but common") << "everything" << QStringList{};
    QTest::newRow("common in any case") << "Definitely" << QStringList{};
    QTest::newRow("all capitals") << "NASA" << QStringList{};
    QTest::newRow("eight graphemes, more code units") << "cafe\u0301teri" << QStringList{"cafe\u0301teri"};
    QTest::newRow("seven graphemes") << "e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301" << QStringList{};
    QTest::newRow("non-Latin camel case") << "мойТелефон" << QStringList{"мойтелефон"};
}

void tst_VocabularyTracker::detectsTerms()
{
    QFETCH(QString, word);
    QFETCH(QStringList, stored);
    QTemporaryDir dir;
    VoiceProfileStore store(dir.filePath("profile.sqlite"));
    VocabularyTracker(store).detectTerms({word}, QStringLiteral("fr"));
    QStringList terms;
    for (const auto &term : store.customTerms())
        terms.append(term.source + ':' + term.term);
    for (QString &term : stored)
        term = "auto:" + term.normalized(QString::NormalizationForm_C);
    QCOMPARE(terms, stored);
}

QTEST_GUILESS_MAIN(tst_VocabularyTracker)
#include "tst_VocabularyTracker.moc"
