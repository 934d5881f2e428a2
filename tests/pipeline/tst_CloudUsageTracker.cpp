#include "pipeline/CloudUsageTracker.h"
#include "platform/fake/FakeSettings.h"

#include <QSignalSpy>
#include <QtTest>

class tst_CloudUsageTracker : public QObject {
    Q_OBJECT
private slots:
    void init();
    void startsFromTheStoredFigures_data();
    void startsFromTheStoredFigures();
    void addedMinutesAccumulateAndRollOver();
    void serverFiguresReplaceOurs();

private:
    CloudUsageTracker::DateSource today() { return [this] { return m_today; }; }
    double stored(const QString &key) const { return m_settings.doubleValue(key); }
    QString storedMonth() const { return m_settings.value(CloudUsageTracker::monthKey).toString(); }

    FakeSettings m_settings;
    QDate m_today;
};

void tst_CloudUsageTracker::init()
{
    m_settings.clear();
    m_today = QDate(2026, 3, 14);
}

void tst_CloudUsageTracker::startsFromTheStoredFigures_data()
{
    QTest::addColumn<QVariant>("month");
    QTest::addColumn<QVariant>("quota");
    QTest::addColumn<double>("used");
    QTest::addColumn<double>("expectedQuota");
    QTest::newRow("first launch") << QVariant() << QVariant() << 0.0 << 1000.0;
    QTest::newRow("same month") << QVariant("2026-03") << QVariant(300.0) << 42.5 << 300.0;
    QTest::newRow("new month resets the minutes") << QVariant("2026-02") << QVariant(300.0) << 0.0 << 300.0;
    QTest::newRow("zero quota means the default") << QVariant("2026-03") << QVariant(0.0) << 42.5 << 1000.0;
    QTest::newRow("negative quota too") << QVariant("2026-03") << QVariant(-5.0) << 42.5 << 1000.0;
}

void tst_CloudUsageTracker::startsFromTheStoredFigures()
{
    QFETCH(QVariant, month);
    QFETCH(QVariant, quota);
    QFETCH(double, used);
    QFETCH(double, expectedQuota);
    if (month.isValid()) {
        m_settings.setValue(CloudUsageTracker::monthKey, month);
        m_settings.setValue(CloudUsageTracker::usedKey, 42.5);
        m_settings.setValue(CloudUsageTracker::quotaKey, quota);
    }
    CloudUsageTracker tracker(&m_settings, today());
    QCOMPARE(tracker.minutesUsedThisMonth(), used);
    QCOMPARE(tracker.monthlyQuotaMinutes(), expectedQuota);
    QCOMPARE(storedMonth(), QStringLiteral("2026-03"));
    QVERIFY(m_settings.contains(CloudUsageTracker::usedKey));
    QCOMPARE(stored(CloudUsageTracker::usedKey), used);
    QCOMPARE(m_settings.contains(CloudUsageTracker::quotaKey), quota.isValid());
}

void tst_CloudUsageTracker::addedMinutesAccumulateAndRollOver()
{
    CloudUsageTracker tracker(&m_settings, today());
    QSignalSpy changed(&tracker, &CloudUsageTracker::minutesUsedThisMonthChanged);
    tracker.addMinutes(0.5);
    QCOMPARE(stored(CloudUsageTracker::usedKey), 0.5);
    tracker.addMinutes(0.5);
    QCOMPARE(tracker.minutesUsedThisMonth(), 1.0);
    QCOMPARE(stored(CloudUsageTracker::usedKey), 1.0);
    QCOMPARE(changed.count(), 2);

    // the year turns while the application runs
    m_today = QDate(2027, 1, 1);
    tracker.addMinutes(2.0);
    QCOMPARE(tracker.minutesUsedThisMonth(), 2.0);
    QCOMPARE(stored(CloudUsageTracker::usedKey), 2.0);
    QCOMPARE(storedMonth(), QStringLiteral("2027-01"));
}

void tst_CloudUsageTracker::serverFiguresReplaceOurs()
{
    m_settings.setValue(CloudUsageTracker::monthKey, QStringLiteral("2026-03"));
    m_settings.setValue(CloudUsageTracker::usedKey, 40.0);
    CloudUsageTracker tracker(&m_settings, today());
    QSignalSpy quotaChanged(&tracker, &CloudUsageTracker::monthlyQuotaMinutesChanged);

    // a reply arriving after midnight on the last day belongs to the new month
    m_today = QDate(2026, 4, 1);
    tracker.updateFromServer(12.5, 87.5);
    QCOMPARE(tracker.minutesUsedThisMonth(), 12.5);
    QCOMPARE(tracker.monthlyQuotaMinutes(), 100.0);
    QCOMPARE(quotaChanged.count(), 1);
    QCOMPARE(stored(CloudUsageTracker::usedKey), 12.5);
    QCOMPARE(stored(CloudUsageTracker::quotaKey), 100.0);
    QCOMPARE(storedMonth(), QStringLiteral("2026-04"));

    tracker.addMinutes(1.5);
    QCOMPARE(tracker.minutesUsedThisMonth(), 14.0);
}

QTEST_GUILESS_MAIN(tst_CloudUsageTracker)
#include "tst_CloudUsageTracker.moc"
