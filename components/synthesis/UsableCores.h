// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// How many cores this process may really keep busy: the machine's count, cut down to the CPUs
// its affinity mask allows (taskset, a batch scheduler's cpuset) and to the CPU time the quota
// of its control group grants (a container's --cpus, systemd's CPUQuota=), rounded up, as nproc
// and current language runtimes count them. Synthesising on more threads than that only makes
// them take turns. These are the only operating-system calls of the synthesis; where they are
// missing (other than Linux) the machine's count stands.
#pragma once

#include <filesystem>

namespace quillory::renderer {

// At least 1.
unsigned usableCores();

// The CPUs in this process's affinity mask; 0 when it cannot be read.
unsigned affinityCores();

// The fewest cores that the CPU quota of the process's control group, or of a group above it,
// allows: cgroup v2 cpu.max, or v1 cpu.cfs_quota_us over cpu.cfs_period_us, rounded up. 0 when
// no quota applies. cgroupRoot is where the control groups are mounted and selfCgroup lists the
// process's groups (its /proc/self/cgroup); tests give files of their own.
unsigned cgroupQuotaCores(const std::filesystem::path& cgroupRoot = "/sys/fs/cgroup",
                          const std::filesystem::path& selfCgroup = "/proc/self/cgroup");

} // namespace quillory::renderer
