#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

// Collects every log line written while it lives (and still prints them).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    // Lines that start with the given prefix, e.g. "[ModelManager] ".
    QStringList linesStartingWith(const QString &prefix) const;
    bool contains(const QString &fragment) const;
    void clear();

private:
    friend void logCaptureHandler(QtMsgType, const QMessageLogContext &, const QString &);
    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};
