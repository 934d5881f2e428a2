#include "app/StatsPhrases.h"

QString StatsPhrases::streakMessageText(int d)
{
    if (d > 29)
        return QStringLiteral("Unstoppable!");
    if (d >= 14)
        return QStringLiteral("You are truly on fire.");
    if (d >= 7)
        return QStringLiteral("One week strong!");
    if (d >= 3)
        return QStringLiteral("Building momentum.");
    if (d >= 1)
        return QStringLiteral("Keep it going!");
    return QStringLiteral("Start your streak today.");
}

int StatsPhrases::wpmPercentile(double w)
{
    static constexpr struct {
        double atLeast;
        int top;
    } table[] = {{150, 1}, {130, 3}, {120, 5}, {110, 10}, {100, 20}, {90, 35}, {80, 50}, {70, 65}};
    for (const auto &row : table) {
        if (w >= row.atLeast)
            return row.top;
    }
    return 80;
}

std::optional<QString> StatsPhrases::bookProgressText(int words)
{
    const qint64 n = words;
    if (n >= wordsPerBook) {
        const qint64 books = n / wordsPerBook;
        return tr("You've written %n complete book(s)", nullptr, int(books));
    }
    const qint64 percent = n * 100 / wordsPerBook;
    if (percent <= 0)
        return std::nullopt;
    return QStringLiteral("%1% of the way to your first book").arg(percent);
}

QString StatsPhrases::formattedCount(int count, const QLocale &locale)
{
    const QString text = locale.toString(count);
    return text.isEmpty() ? QString::number(count) : text;
}

StatsPhrases::StreakFigure StatsPhrases::streakFigure(int s)
{
    if (s < 7)
        return {s, tr("day(s)", nullptr, s)};
    return {s / 7, tr("week(s)", nullptr, s / 7)};
}

QString StatsPhrases::percentileLine(double averageWPM) const
{
    return QStringLiteral("Top %1% of all users").arg(wpmPercentile(averageWPM));
}
