#include "LogCapture.h"

#include <QRegularExpression>
#include <QtGlobal>

#include <atomic>

namespace {
// Threads of the code under test log too: they see the capture whole.
std::atomic<LogCapture *> g_active = nullptr;
}

void logCaptureHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (LogCapture *capture = g_active.load(std::memory_order_acquire)) {
        {
            QMutexLocker lock(&capture->m_mutex);
            capture->m_lines.append(message);
        }
        if (capture->m_previous)
            capture->m_previous(type, context, message);
    }
}

LogCapture::LogCapture()
{
    // the default handler prints meanwhile: nothing logged is lost
    m_previous = qInstallMessageHandler(nullptr);
    g_active.store(this, std::memory_order_release);
    qInstallMessageHandler(logCaptureHandler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    g_active.store(nullptr, std::memory_order_release);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&m_mutex);
    return m_lines;
}

QStringList LogCapture::linesStartingWith(const QString &prefix) const
{
    return lines().filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix)));
}

bool LogCapture::contains(const QString &fragment) const
{
    return !lines().filter(fragment).isEmpty();
}

void LogCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}
