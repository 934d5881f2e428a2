#pragma once

#include <QLoggingCategory>
#include <QString>

// One line per event: "[Tag] message", control characters in the message
// escaped.
void logLine(const char *tag, const QString &message);

inline void logLine(const char *tag, const char *message)
{
    logLine(tag, QString::fromUtf8(message));
}

// The same line at debug level, for chatter from libraries.
void logDebugLine(const char *tag, const QString &message);

// Off by default, so that the user's words stay out of session logs:
// QT_LOGGING_RULES="tavrune.text.debug=true" lets them through.
Q_DECLARE_LOGGING_CATEGORY(lcUserText)

// What a log line shows of the user's words (dictated, selected or typed):
// "<N chars>" by default, the words themselves when lcUserText is on.
QString loggedText(const QString &text);
