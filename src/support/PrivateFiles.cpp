#include "PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {
QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}
} // namespace

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

QString PrivateFiles::checkOwnFolder(const QString &path, bool create)
{
    const QByteArray name = QFile::encodeName(path);
    if (create) {
        QDir().mkpath(QFileInfo(path).path());
        if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
            return QStringLiteral("cannot create %1: %2").arg(path, systemError());
    }
    struct stat info = {};
    if (::lstat(name.constData(), &info) != 0)
        return QStringLiteral("%1: %2").arg(path, systemError());
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("%1 is not a folder").arg(path);
    if (info.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to another user (uid %2)").arg(path).arg(info.st_uid);
    if ((info.st_mode & 077) != 0)
        return QStringLiteral("%1 is open to other users (mode %2)").arg(path).arg(info.st_mode & 0777, 3, 8, QLatin1Char('0'));
    return {};
}
