#include "app/StatsPhrases.h"
#include "app/UiModule.h"

#include <QtTest>

class tst_StatsPhrases : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { UiModule::installTranslations(); }
    void streak_data();
    void streak();
    void percentile_data();
    void percentile();
    void bookProgress_data();
    void bookProgress();
};

void tst_StatsPhrases::streak_data()
{
    QTest::addColumn<int>("days");
    QTest::addColumn<int>("figure");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("message");
    QTest::newRow("none") << 0 << 0 << "days" << "Start your streak today.";
    QTest::newRow("1") << 1 << 1 << "day" << "Keep it going!";
    QTest::newRow("3") << 3 << 3 << "days" << "Building momentum.";
    QTest::newRow("6") << 6 << 6 << "days" << "Building momentum.";
    QTest::newRow("7") << 7 << 1 << "week" << "One week strong!";
    QTest::newRow("13") << 13 << 1 << "week" << "One week strong!";
    QTest::newRow("14") << 14 << 2 << "weeks" << "You are truly on fire.";
    QTest::newRow("29") << 29 << 4 << "weeks" << "You are truly on fire.";
    QTest::newRow("30") << 30 << 4 << "weeks" << "Unstoppable!";
}

void tst_StatsPhrases::streak()
{
    QFETCH(int, days);
    QFETCH(int, figure);
    QFETCH(QString, unit);
    QFETCH(QString, message);
    QCOMPARE(StatsPhrases::streakFigure(days), (StatsPhrases::StreakFigure{figure, unit}));
    QCOMPARE(StatsPhrases::streakMessageText(days), message);
}

void tst_StatsPhrases::percentile_data()
{
    QTest::addColumn<double>("wpm");
    QTest::addColumn<int>("top");
    QTest::newRow("150") << 150.0 << 1;
    QTest::newRow("149.9") << 149.9 << 3;
    QTest::newRow("110") << 110.0 << 10;
    QTest::newRow("70") << 70.0 << 65;
    QTest::newRow("69.9") << 69.9 << 80;
}

void tst_StatsPhrases::percentile()
{
    QFETCH(double, wpm);
    QFETCH(int, top);
    QCOMPARE(StatsPhrases::wpmPercentile(wpm), top);
}

void tst_StatsPhrases::bookProgress_data()
{
    QTest::addColumn<int>("words");
    QTest::addColumn<QString>("text"); // empty: no line
    QTest::newRow("699") << 699 << "";
    QTest::newRow("700") << 700 << "1% of the way to your first book";
    QTest::newRow("69999") << 69'999 << "99% of the way to your first book";
    QTest::newRow("70000") << 70'000 << "You've written 1 complete book";
    QTest::newRow("139999") << 139'999 << "You've written 1 complete book";
    QTest::newRow("140000") << 140'000 << "You've written 2 complete books";
    // n x 100 must not overflow an int
    QTest::newRow("huge") << 2'000'000'000 << "You've written 28571 complete books";
}

void tst_StatsPhrases::bookProgress()
{
    QFETCH(int, words);
    QFETCH(QString, text);
    QCOMPARE(StatsPhrases::bookProgressText(words).value_or(QString()), text);
}

QTEST_GUILESS_MAIN(tst_StatsPhrases)
#include "tst_StatsPhrases.moc"
