#include "Log.h"

#include <QDebug>

void logLine(const char *tag, const QString &message)
{
    qInfo().noquote() << QStringLiteral("[%1] %2").arg(QString::fromUtf8(tag), message);
}
