#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <sys/types.h>

// A helper program started for a test, in its own process group so that
// whatever it spawns goes with it. Works before any QCoreApplication exists.
class ChildProcess {
public:
    struct Options {
        // Where stdout and stderr go; empty = /dev/null.
        QString logFile;
        // Keep a pipe to the child's stdin and from its stdout (then stdout
        // does not go to the log).
        bool pipes = false;
    };

    ChildProcess() = default;
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Starts program (looked up in PATH) with the current environment.
    bool start(const QString &program, const QStringList &arguments, const Options &options);
    bool start(const QString &program, const QStringList &arguments)
    {
        return start(program, arguments, Options{});
    }

    // From now on every child this process starts is ended with its whole
    // process group once this process has died, however it dies (a crash
    // included), by a watcher process apart from it; directory, unless
    // empty, is removed then too. The watcher starts at the first call, which
    // must come before this process becomes a subreaper; later calls only
    // change the directory.
    static void endChildrenWhenThisProcessDies(const QString &directory);

    pid_t pid() const { return m_pid; }
    bool isRunning();
    // Exit status once it has ended (-1 while running or when killed).
    int exitCode() const { return m_exitCode; }

    // Waits for the child to end by itself; false on timeout.
    bool waitForFinished(std::chrono::milliseconds timeout);
    // SIGTERM to the group, then SIGKILL after the grace period.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

    bool writeLine(const QByteArray &line);
    // One line from stdout without its newline; false on timeout or end of output.
    bool readLine(QByteArray *line, std::chrono::milliseconds timeout)
    {
        return readLineFrom(m_stdout, m_stdoutBuffer, line, timeout);
    }

private:
    friend int runProgram(const QString &, const QStringList &, std::chrono::milliseconds, QByteArray *);
    static bool readLineFrom(int fd, QByteArray &buffer, QByteArray *line,
                             std::chrono::milliseconds timeout);
    void reap(bool block);

    pid_t m_pid = -1;
    int m_exitCode = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    QByteArray m_stdoutBuffer;
};

// Runs a program to completion within the timeout; returns its exit code, or
// -1 when it could not start or had to be killed. Output goes to *output.
int runProgram(const QString &program, const QStringList &arguments,
               std::chrono::milliseconds timeout, QByteArray *output = nullptr);
