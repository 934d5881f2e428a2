#include "Log.h"

#include "ControlCharacters.h"
#include "TextUtils.h"

#include <QDebug>

Q_LOGGING_CATEGORY(lcUserText, "tavrune.text", QtInfoMsg)

namespace {
// Messages carry text from servers and other programs: a line break in it
// must not start a line of its own.
QString formatLine(const char *tag, const QString &message)
{
    return QStringLiteral("[%1] %2").arg(QString::fromUtf8(tag), ControlCharacters::escapedForLog(message));
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
