#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// How many processors this process may really keep busy: the online ones,
// narrowed by its CPU affinity mask and by the CPU quota of its cgroup (v2),
// so that a container limited to two CPUs of a large host sizes its worker
// pools for two.
namespace UsableProcessors {

// The count for this process now; at least 1.
int count();

// The tightest cgroup v2 CPU limit, in processors (quota / period), on the
// path from the process's cgroup up to the hierarchy's root. `procSelfCgroup`
// is the text of /proc/self/cgroup; `hierarchyRoot` is where the unified
// hierarchy is mounted. None when no level sets a quota.
std::optional<double> cgroupCpuLimit(const QString &hierarchyRoot, const QByteArray &procSelfCgroup);

// The smallest of the affinity count and the quota rounded up; at least 1.
int combine(int affinityCount, std::optional<double> cpuLimit);

} // namespace UsableProcessors
