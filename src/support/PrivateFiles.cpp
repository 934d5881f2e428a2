#include "PrivateFiles.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

QString PrivateFiles::ensureFolder(const QString &path)
{
    errno = 0;
    if (!QDir().mkpath(path))
        return QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno ? errno : EACCES)));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return {};
}

void PrivateFiles::restrictFile(const QString &path)
{
    if (QFile::exists(path))
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}
