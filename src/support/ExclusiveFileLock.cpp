#include "ExclusiveFileLock.h"

#include "support/Log.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace {

// The process holding a flock on the file behind fd, as /proc/locks lists it:
// "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF". Waiters ("->") are skipped.
QString holderOf(int fd)
{
    struct stat info {};
    QFile locks(QStringLiteral("/proc/locks"));
    if (::fstat(fd, &info) != 0 || !locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QString file = QStringLiteral("%1:%2:%3")
                             .arg(major(info.st_dev), 2, 16, QLatin1Char('0'))
                             .arg(minor(info.st_dev), 2, 16, QLatin1Char('0'))
                             .arg(quint64(info.st_ino));
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QStringList fields = QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() < 6 || fields.at(1) != QLatin1String("FLOCK") || fields.at(5) != file)
            continue;
        const QString pid = fields.at(4);
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly))
            return QStringLiteral("%1, process %2").arg(QString::fromLocal8Bit(comm.readAll().trimmed()), pid);
        return QStringLiteral("process %1").arg(pid);
    }
    return {};
}

} // namespace

std::optional<QString> ExclusiveFileLock::take(int fd)
{
    release();
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return std::nullopt;
    if (::flock(own, LOCK_EX | LOCK_NB) == 0) {
        m_fd = own;
        return std::nullopt;
    }
    const int error = errno;
    std::optional<QString> holder;
    if (error == EWOULDBLOCK) {
        holder = holderOf(own);
    } else {
        logLine("Lock", QStringLiteral("Cannot lock descriptor %1: %2")
                            .arg(fd)
                            .arg(QString::fromLocal8Bit(std::strerror(error))));
    }
    ::close(own);
    return holder;
}

void ExclusiveFileLock::release()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}
