#include "UsableProcessors.h"

#include <QDir>
#include <QFile>

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace {
QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "max 100000" (no quota) or "<quota> <period>".
std::optional<double> parseCpuMax(const QByteArray &text)
{
    const QList<QByteArray> fields = text.simplified().split(' ');
    if (fields.size() != 2 || fields[0] == "max")
        return std::nullopt;
    bool quotaOk = false, periodOk = false;
    const double quota = fields[0].toDouble(&quotaOk);
    const double period = fields[1].toDouble(&periodOk);
    if (!quotaOk || !periodOk || quota <= 0 || period <= 0)
        return std::nullopt;
    return quota / period;
}

// Where the unified hierarchy is mounted: its own mount on a pure v2 system,
// the "unified" mount on a hybrid one.
QString unifiedHierarchyRoot()
{
    for (const QByteArray &line : readFile(QStringLiteral("/proc/self/mounts")).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 2 && fields[2] == "cgroup2")
            return QString::fromLocal8Bit(fields[1]);
    }
    return QStringLiteral("/sys/fs/cgroup");
}

int affinityCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0)
        return CPU_COUNT(&set);
    return int(sysconf(_SC_NPROCESSORS_ONLN));
}
} // namespace

namespace UsableProcessors {

std::optional<double> cgroupCpuLimit(const QString &hierarchyRoot, const QByteArray &procSelfCgroup)
{
    QString path;
    for (const QByteArray &line : procSelfCgroup.split('\n')) {
        if (line.startsWith("0::"))
            path = QString::fromLocal8Bit(line.mid(3)).trimmed();
    }
    if (path.isEmpty())
        return std::nullopt;

    std::optional<double> tightest;
    QString level = QDir::cleanPath(QStringLiteral("/") + path);
    while (true) {
        if (const auto limit = parseCpuMax(readFile(QDir::cleanPath(hierarchyRoot + level) + QStringLiteral("/cpu.max"))))
            tightest = tightest ? std::min(*tightest, *limit) : *limit;
        if (level == QLatin1String("/"))
            break;
        level = QDir::cleanPath(level + QStringLiteral("/.."));
    }
    return tightest;
}

int combine(int affinityCount, std::optional<double> cpuLimit)
{
    int count = std::max(affinityCount, 1);
    if (cpuLimit)
        count = std::min(count, std::max(1, int(std::ceil(*cpuLimit - 1e-9))));
    return count;
}

int count()
{
    return combine(affinityCount(),
                   cgroupCpuLimit(unifiedHierarchyRoot(), readFile(QStringLiteral("/proc/self/cgroup"))));
}

} // namespace UsableProcessors
