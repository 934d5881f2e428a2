#include "Log.h"

#include "TextUtils.h"

#include <QDebug>

Q_LOGGING_CATEGORY(lcUserText, "tavrune.text", QtInfoMsg)

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

QString loggedText(const QString &text)
{
    if (lcUserText().isDebugEnabled())
        return text;
    return QStringLiteral("<%1 chars>").arg(TextUtils::graphemeCount(text));
}
