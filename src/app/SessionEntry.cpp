#include "app/SessionEntry.h"

#include "support/TextUtils.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

bool SessionEntry::isLong() const
{
    return TextUtils::graphemeCount(displayText()) > collapsedCharacterLimit;
}

QString SessionEntry::durationText(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return QStringLiteral("0s");
    // beyond this a whole number of seconds no longer fits
    const double capped = std::min(seconds, double(std::numeric_limits<qint64>::max() / 2));
    const qint64 s = qint64(capped);
    if (s < 60)
        return QStringLiteral("%1s").arg(s);
    return QStringLiteral("%1m %2s").arg(s / 60).arg(s % 60);
}

QString SessionEntry::dateText(const QDateTime &timestamp, const QLocale &locale)
{
    // The locale's long date without weekday and year, its month abbreviated,
    // then its short time.
    QString pattern = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[^dMy']*"));
    static const QRegularExpression leadingYear(QStringLiteral("^y+[^dMy']*"));
    static const QRegularExpression year(QStringLiteral("[^dMy']*y+"));
    static const QRegularExpression month(QStringLiteral("M+"));
    pattern.remove(weekday).remove(leadingYear).remove(year).replace(month, QStringLiteral("MMM"));
    // Hours and minutes only, whatever the locale's short time holds.
    static const QRegularExpression seconds(QStringLiteral("[^Hhmap']*s+"));
    const QString timePattern = locale.timeFormat(QLocale::ShortFormat).remove(seconds);
    return locale.toString(timestamp.date(), pattern.trimmed()) + QStringLiteral(", ")
           + locale.toString(timestamp.time(), timePattern.trimmed());
}

bool SessionEntry::matches(const QString &query) const
{
    if (query.isEmpty())
        return true;
    return rawTranscript.contains(query, Qt::CaseInsensitive) || rewrittenText.contains(query, Qt::CaseInsensitive);
}
