#include "CloudUsageTracker.h"

#include "platform/Platform.h"
#include "platform/Settings.h"
#include "support/SharedInstance.h"

const QString CloudUsageTracker::usedKey = QStringLiteral("cloud_usage_minutes_used");
const QString CloudUsageTracker::monthKey = QStringLiteral("cloud_usage_month");
const QString CloudUsageTracker::quotaKey = QStringLiteral("cloud_usage_quota");

CloudUsageTracker::CloudUsageTracker(Settings *settings, DateSource today, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_today(today ? std::move(today) : DateSource(&QDate::currentDate))
{
    rollOverMonth();
    m_minutesUsedThisMonth = this->settings().doubleValue(usedKey);
    const double quota = this->settings().doubleValue(quotaKey);
    if (quota > 0)
        m_monthlyQuotaMinutes = quota;
}

CloudUsageTracker::~CloudUsageTracker()
{
    SharedInstance<CloudUsageTracker>::release(this);
}

CloudUsageTracker &CloudUsageTracker::shared()
{
    if (CloudUsageTracker *installed = SharedInstance<CloudUsageTracker>::installed())
        return *installed;
    static CloudUsageTracker instance;
    return instance;
}

void CloudUsageTracker::setShared(CloudUsageTracker *tracker)
{
    SharedInstance<CloudUsageTracker>::install(tracker);
}

void CloudUsageTracker::addMinutes(double minutes)
{
    rollOverMonth();
    setMinutesUsed(m_minutesUsedThisMonth + minutes);
    settings().setValue(usedKey, m_minutesUsedThisMonth);
}

void CloudUsageTracker::updateFromServer(double minutesUsed, double minutesRemaining)
{
    setMinutesUsed(minutesUsed);
    setQuota(minutesUsed + minutesRemaining);
    settings().setValue(usedKey, m_minutesUsedThisMonth);
    settings().setValue(quotaKey, m_monthlyQuotaMinutes);
    settings().setValue(monthKey, currentMonth());
}

Settings &CloudUsageTracker::settings() const
{
    return m_settings ? *m_settings : Platform::instance().settings();
}

QString CloudUsageTracker::currentMonth() const
{
    return m_today().toString(QStringLiteral("yyyy-MM"));
}

void CloudUsageTracker::rollOverMonth()
{
    const QString current = currentMonth();
    if (settings().string(monthKey).value_or(QString()) == current)
        return;
    setMinutesUsed(0);
    settings().setValue(usedKey, 0.0);
    settings().setValue(monthKey, current);
}

void CloudUsageTracker::setMinutesUsed(double minutes)
{
    if (m_minutesUsedThisMonth == minutes)
        return;
    m_minutesUsedThisMonth = minutes;
    emit minutesUsedThisMonthChanged();
}

void CloudUsageTracker::setQuota(double minutes)
{
    if (m_monthlyQuotaMinutes == minutes)
        return;
    m_monthlyQuotaMinutes = minutes;
    emit monthlyQuotaMinutesChanged();
}
