#include "TargetApp.h"

#include "DesktopHarness.h"

#include <QFile>

using namespace std::chrono;

namespace {
constexpr milliseconds kAnswerLimit(10000);

QByteArray encoded(const QString &text)
{
    // one token per argument: no spaces or line breaks on the wire
    return text.toUtf8().toPercentEncoding();
}
} // namespace

TargetApp::TargetApp(const QString &directory, const QString &logFile)
    : m_directory(directory)
    , m_logFile(logFile)
{
}

bool TargetApp::start(bool accessible)
{
    ChildProcess::Options options;
    options.logFile = m_logFile;
    options.pipes = true;
    QStringList arguments{QStringLiteral("--dir"), m_directory};
    if (accessible)
        arguments << QStringLiteral("--accessible");
    if (!m_process.start(QStringLiteral(TAVRUNE_E2E_TARGET), arguments, options)) {
        m_error = QStringLiteral("cannot run the target application");
        return false;
    }
    QByteArray line;
    if (!m_process.readLine(&line, kAnswerLimit) || !line.startsWith("ready ")) {
        m_error = QStringLiteral("the target application did not show its window");
        return false;
    }
    m_windowId = line.mid(6).trimmed().toULongLong();
    return true;
}

void TargetApp::stop()
{
    if (m_process.isRunning() && m_process.writeLine("quit"))
        m_process.waitForFinished(milliseconds(2000));
    m_process.stop();
}

QString TargetApp::fieldName(Field field)
{
    static const char *const names[] = {"line", "area", "password"};
    return QLatin1String(names[field]);
}

bool TargetApp::command(const QString &line)
{
    if (!m_process.writeLine(line.toUtf8())) {
        m_error = QStringLiteral("the target application is gone");
        return false;
    }
    QByteArray answer;
    // the target may be waiting on us (as clipboard owner) to finish
    const bool answered = DesktopHarness::waitUntil([&] { return m_process.readLine(&answer, milliseconds(1)); },
                                                    kAnswerLimit);
    if (answered && answer == "ok")
        return true;
    m_error = answered ? QString::fromUtf8(answer) : QStringLiteral("no answer from the target application to: ") + line;
    return false;
}

bool TargetApp::focus(Field field)
{
    // the window manager does not let an application take the focus from
    // another; ask it as a pager would (fails harmlessly without one)
    runProgram(QStringLiteral("xdotool"),
               {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(m_windowId)},
               milliseconds(3000));
    return command(QStringLiteral("focus ") + fieldName(field));
}

bool TargetApp::setText(Field field, const QString &text)
{
    return command(QStringLiteral("set %1 %2").arg(fieldName(field), QString::fromLatin1(encoded(text))));
}

bool TargetApp::select(Field field, int start, int end)
{
    return command(QStringLiteral("select %1 %2 %3").arg(fieldName(field)).arg(start).arg(end));
}

bool TargetApp::setReadOnly(Field field, bool readOnly)
{
    return command(QStringLiteral("readonly %1 %2").arg(fieldName(field)).arg(int(readOnly)));
}

bool TargetApp::copyToClipboard(const QString &text, const QString &html)
{
    return command(QStringLiteral("copy %1 %2")
                       .arg(QString::fromLatin1(encoded(text)), QString::fromLatin1(encoded(html))));
}

QString TargetApp::textFile(Field field) const
{
    return m_directory + QLatin1Char('/') + fieldName(field) + QStringLiteral(".txt");
}

QString TargetApp::text(Field field) const
{
    QFile file(textFile(field));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList TargetApp::keysReceived() const
{
    QFile file(m_directory + QStringLiteral("/keys.txt"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                          : QStringList();
}

bool TargetApp::waitForText(Field field, const QString &expected, milliseconds timeout) const
{
    return DesktopHarness::waitUntil([&] { return text(field) == expected; }, timeout);
}
