#include "TavruneProcess.h"

#include "DesktopHarness.h"

#include <QFile>

#include <csignal>

bool TavruneProcess::start(const QString &program, const QStringList &arguments)
{
    ChildProcess::Options options;
    options.logFile = m_logFile;
    return m_process.start(program, arguments, options);
}

int TavruneProcess::stop(std::chrono::milliseconds grace, int signal)
{
    if (m_process.pid() <= 0)
        return m_process.exitCode();
    if (m_process.isRunning()) {
        ::kill(static_cast<pid_t>(m_process.pid()), signal);
        if (!m_process.waitForFinished(grace))
            m_process.stop();
    }
    return m_process.exitCode();
}

QString TavruneProcess::log() const
{
    QFile file(m_logFile);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool TavruneProcess::waitForLog(const QString &text, std::chrono::milliseconds timeout) const
{
    return DesktopHarness::waitUntil([&] { return log().contains(text); }, timeout);
}
