#pragma once

#include "ChildProcess.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <csignal>

// The Tavrune application itself, launched as its own process on the test
// desktop, with its log in a file the caller can wait on.
class TavruneProcess {
public:
    explicit TavruneProcess(QString logFile) : m_logFile(std::move(logFile)) {}
    ~TavruneProcess() { stop(); }

    bool start(const QString &program, const QStringList &arguments = {});
    // SIGTERM (or signal), then the exit status (-1 when it had to be killed
    // or ended by a signal).
    int stop(std::chrono::milliseconds grace = std::chrono::milliseconds(5000), int signal = SIGTERM);
    bool isRunning() { return m_process.isRunning(); }
    qint64 pid() const { return m_process.pid(); }

    QString log() const;
    // Waits until the log holds a line containing text.
    bool waitForLog(const QString &text, std::chrono::milliseconds timeout = std::chrono::milliseconds(15000)) const;

private:
    QString m_logFile;
    ChildProcess m_process;
};
