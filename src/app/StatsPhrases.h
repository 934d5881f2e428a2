#pragma once

#include <QLocale>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <optional>

// The short texts the statistics carousel turns the profile's totals into.
// Pure functions of their figures.
// Reachable from QML as the singleton StatsPhrases.
class StatsPhrases : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    static constexpr int wordsPerBook = 70'000;

    using QObject::QObject;

    static QString streakMessageText(int streakDays);
    // N of "Top N% of all users".
    static int wpmPercentile(double averageWPM);
    static std::optional<QString> bookProgressText(int words);
    // Grouped by the locale's separator ("12,345" in US English).
    static QString formattedCount(int count, const QLocale &locale = QLocale());

    // The streak page's big figure and its unit: days below a week, then
    // whole weeks.
    struct StreakFigure {
        int value = 0;
        QString unit;
        friend bool operator==(const StreakFigure &, const StreakFigure &) = default;
    };
    static StreakFigure streakFigure(int streakDays);

    Q_INVOKABLE QString percentileLine(double averageWPM) const;
    Q_INVOKABLE QString bookLine(int words) const { return bookProgressText(words).value_or(QString()); }
    Q_INVOKABLE QString count(int value) const { return formattedCount(value); }
    Q_INVOKABLE int streakValue(int streakDays) const { return streakFigure(streakDays).value; }
    Q_INVOKABLE QString streakUnit(int streakDays) const { return streakFigure(streakDays).unit; }
};
