#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QUuid>

// One past dictation as the history shows it. The id is made when the
// history first shows the session and kept while it stays in it.
struct SessionEntry {
    QUuid id;
    QDateTime timestamp;
    double duration = 0; // seconds
    int wordCount = 0;
    QString rawTranscript;
    QString rewrittenText; // empty when the store holds none

    // The delivered text when there is one, else the raw transcript: the text
    // a row shows, measures and copies.
    QString displayText() const { return rewrittenText.isEmpty() ? rawTranscript : rewrittenText; }
    // A row offers "Show more" only for texts of more than this many
    // user-perceived characters.
    static constexpr int collapsedCharacterLimit = 80;
    bool isLong() const;

    // "42s", "2m 5s"; no hour unit. Whatever is not a finite, non-negative
    // number of seconds reads "0s".
    static QString durationText(double seconds);
    // Abbreviated month, day, hour and minute in the locale's own order
    // ("Dec 5, 3:41 PM" in US English).
    static QString dateText(const QDateTime &timestamp, const QLocale &locale = QLocale());

    // The same logged session, whatever the ids.
    bool sameSession(const SessionEntry &other) const
    {
        return timestamp == other.timestamp && duration == other.duration && wordCount == other.wordCount
            && rawTranscript == other.rawTranscript && rewrittenText == other.rewrittenText;
    }

    // Kept when the query is empty, else when either text holds it, ignoring case.
    bool matches(const QString &query) const;
};
