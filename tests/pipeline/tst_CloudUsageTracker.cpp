#include "pipeline/CloudUsageTracker.h"
#include "platform/fake/FakeSettings.h"

#include <QSignalSpy>
#include <QtTest>

class tst_CloudUsageTracker : public QObject {
    Q_OBJECT
private slots:
    void init();
    void firstLaunchStoresTheMonth();
    void startsFromStoredFiguresInTheSameMonth();
    void newMonthResetsUsedMinutes();
    void onlyPositiveStoredQuotaCounts_data();
    void onlyPositiveStoredQuotaCounts();
    void addedMinutesAccumulateAndRollOver();
    void serverFiguresReplaceOurs();

private:
    CloudUsageTracker::DateSource today() { return [this] { return m_today; }; }

    FakeSettings m_settings;
    QDate m_today;
};

void tst_CloudUsageTracker::init()
{
    m_settings.clear();
    m_today = QDate(2026, 3, 14);
}

void tst_CloudUsageTracker::firstLaunchStoresTheMonth()
{
    CloudUsageTracker tracker(&m_settings, today());
    QCOMPARE(tracker.minutesUsedThisMonth(), 0.0);
    QCOMPARE(tracker.monthlyQuotaMinutes(), 1000.0);
    QCOMPARE(m_settings.value(CloudUsageTracker::monthKey).toString(), QStringLiteral("2026-03"));
    QVERIFY(m_settings.contains(CloudUsageTracker::usedKey));
    QCOMPARE(m_settings.doubleValue(CloudUsageTracker::usedKey), 0.0);
    QVERIFY(!m_settings.contains(CloudUsageTracker::quotaKey));
}

void tst_CloudUsageTracker::startsFromStoredFiguresInTheSameMonth()
{
    m_settings.setValue(CloudUsageTracker::monthKey, QStringLiteral("2026-03"));
    m_settings.setValue(CloudUsageTracker::usedKey, 42.5);
    m_settings.setValue(CloudUsageTracker::quotaKey, 300.0);
    CloudUsageTracker tracker(&m_settings, today());
    QCOMPARE(tracker.minutesUsedThisMonth(), 42.5);
    QCOMPARE(tracker.monthlyQuotaMinutes(), 300.0);
}

void tst_CloudUsageTracker::newMonthResetsUsedMinutes()
{
    m_settings.setValue(CloudUsageTracker::monthKey, QStringLiteral("2026-02"));
    m_settings.setValue(CloudUsageTracker::usedKey, 500.0);
    m_settings.setValue(CloudUsageTracker::quotaKey, 300.0);
    CloudUsageTracker tracker(&m_settings, today());
    QCOMPARE(tracker.minutesUsedThisMonth(), 0.0);
    QCOMPARE(m_settings.doubleValue(CloudUsageTracker::usedKey), 0.0);
    QCOMPARE(m_settings.value(CloudUsageTracker::monthKey).toString(), QStringLiteral("2026-03"));
    QCOMPARE(tracker.monthlyQuotaMinutes(), 300.0);
}

void tst_CloudUsageTracker::onlyPositiveStoredQuotaCounts_data()
{
    QTest::addColumn<double>("stored");
    QTest::addColumn<double>("expected");
    QTest::newRow("zero") << 0.0 << 1000.0;
    QTest::newRow("negative") << -5.0 << 1000.0;
    QTest::newRow("positive") << 120.0 << 120.0;
}

void tst_CloudUsageTracker::onlyPositiveStoredQuotaCounts()
{
    QFETCH(double, stored);
    QFETCH(double, expected);
    m_settings.setValue(CloudUsageTracker::quotaKey, stored);
    CloudUsageTracker tracker(&m_settings, today());
    QCOMPARE(tracker.monthlyQuotaMinutes(), expected);
}

void tst_CloudUsageTracker::addedMinutesAccumulateAndRollOver()
{
    CloudUsageTracker tracker(&m_settings, today());
    QSignalSpy changed(&tracker, &CloudUsageTracker::minutesUsedThisMonthChanged);
    tracker.addMinutes(0.5);
    QCOMPARE(m_settings.doubleValue(CloudUsageTracker::usedKey), 0.5);
    tracker.addMinutes(0.5);
    QCOMPARE(tracker.minutesUsedThisMonth(), 1.0);
    QCOMPARE(m_settings.doubleValue(CloudUsageTracker::usedKey), 1.0);
    QCOMPARE(changed.count(), 2);

    // The year turns while the application runs: the first addition of the
    // new month starts from zero.
    m_today = QDate(2027, 1, 1);
    tracker.addMinutes(2.0);
    QCOMPARE(tracker.minutesUsedThisMonth(), 2.0);
    QCOMPARE(m_settings.doubleValue(CloudUsageTracker::usedKey), 2.0);
    QCOMPARE(m_settings.value(CloudUsageTracker::monthKey).toString(), QStringLiteral("2027-01"));
}

void tst_CloudUsageTracker::serverFiguresReplaceOurs()
{
    m_settings.setValue(CloudUsageTracker::monthKey, QStringLiteral("2026-03"));
    m_settings.setValue(CloudUsageTracker::usedKey, 40.0);
    CloudUsageTracker tracker(&m_settings, today());
    QSignalSpy quotaChanged(&tracker, &CloudUsageTracker::monthlyQuotaMinutesChanged);

    // A server reply arriving after midnight on the last day belongs to the new month.
    m_today = QDate(2026, 4, 1);
    tracker.updateFromServer(12.5, 87.5);
    QCOMPARE(tracker.minutesUsedThisMonth(), 12.5);
    QCOMPARE(tracker.monthlyQuotaMinutes(), 100.0);
    QCOMPARE(quotaChanged.count(), 1);
    QCOMPARE(m_settings.doubleValue(CloudUsageTracker::usedKey), 12.5);
    QCOMPARE(m_settings.doubleValue(CloudUsageTracker::quotaKey), 100.0);
    QCOMPARE(m_settings.value(CloudUsageTracker::monthKey).toString(), QStringLiteral("2026-04"));

    // Ours add to the server's figure from then on.
    tracker.addMinutes(1.5);
    QCOMPARE(tracker.minutesUsedThisMonth(), 14.0);
}

QTEST_GUILESS_MAIN(tst_CloudUsageTracker)
#include "tst_CloudUsageTracker.moc"
