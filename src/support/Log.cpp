#include "Log.h"

#include <QDebug>

namespace {
QString formatLine(const char *tag, const QString &message)
{
    return QStringLiteral("[%1] %2").arg(QString::fromUtf8(tag), message);
}
} // namespace

void logLine(const char *tag, const QString &message)
{
    qInfo().noquote() << formatLine(tag, message);
}

void logDebugLine(const char *tag, const QString &message)
{
    qDebug().noquote() << formatLine(tag, message);
}
