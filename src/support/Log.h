#pragma once

#include <QString>

// One line per event: "[Tag] message".
void logLine(const char *tag, const QString &message);

inline void logLine(const char *tag, const char *message)
{
    logLine(tag, QString::fromUtf8(message));
}

// The same line at debug level, for chatter from libraries.
void logDebugLine(const char *tag, const QString &message);
