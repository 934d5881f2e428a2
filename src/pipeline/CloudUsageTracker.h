#pragma once

#include <QDate>
#include <QObject>
#include <QString>

#include <functional>

class Settings;

// Cloud transcription minutes used this calendar month and the month's quota,
// kept in the user's settings so they survive restarts. Main thread only.
class CloudUsageTracker : public QObject {
    Q_OBJECT
    Q_PROPERTY(double minutesUsedThisMonth READ minutesUsedThisMonth NOTIFY minutesUsedThisMonthChanged)
    Q_PROPERTY(double monthlyQuotaMinutes READ monthlyQuotaMinutes NOTIFY monthlyQuotaMinutesChanged)

public:
    using DateSource = std::function<QDate()>;

    static constexpr double defaultQuotaMinutes = 1000.0;
    static const QString usedKey;
    static const QString monthKey;
    static const QString quotaKey;

    // settings == nullptr means the installed platform's settings, looked up on
    // every use; today defaults to the local calendar date.
    explicit CloudUsageTracker(Settings *settings = nullptr, DateSource today = {}, QObject *parent = nullptr);

    ~CloudUsageTracker() override;

    // The application's instance: the one installed, else one made on first use.
    static CloudUsageTracker &shared();
    static void setShared(CloudUsageTracker *tracker);

    double minutesUsedThisMonth() const { return m_minutesUsedThisMonth; }
    double monthlyQuotaMinutes() const { return m_monthlyQuotaMinutes; }

    void addMinutes(double minutes);
    // The server's figures replace ours.
    void updateFromServer(double minutesUsed, double minutesRemaining);

signals:
    void minutesUsedThisMonthChanged();
    void monthlyQuotaMinutesChanged();

private:
    Settings &settings() const;
    QString currentMonth() const;
    void rollOverMonth();
    void setMinutesUsed(double minutes);
    void setQuota(double minutes);

    Settings *m_settings;
    DateSource m_today;
    double m_minutesUsedThisMonth = 0;
    double m_monthlyQuotaMinutes = defaultQuotaMinutes;
};
