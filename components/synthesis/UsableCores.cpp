// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/UsableCores.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#ifdef __linux__
#include <sched.h>
#endif

namespace quillory::renderer {

namespace fs = std::filesystem;

namespace {

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// A whole number, or nothing (-1) for anything else.
long long number(std::string_view text) {
    long long value = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : -1;
}

// A quota of CPU time per period grants that many cores' worth, and a part of one still needs
// a core of its own.
unsigned quotaCores(long long quota, long long period) {
    if (quota <= 0 || period <= 0)
        return 0;
    return unsigned(std::min<long long>((quota + period - 1) / period, UINT_MAX));
}

// cgroup v2: "max 100000" (no limit) or "150000 100000".
unsigned cpuMaxCores(const fs::path& group) {
    const std::string line = firstLine(group / "cpu.max");
    const std::size_t space = line.find(' ');
    if (space == std::string::npos)
        return 0;
    const std::string_view text(line);
    return quotaCores(number(text.substr(0, space)), number(text.substr(space + 1)));
}

// cgroup v1: a quota of -1 is no limit.
unsigned cfsCores(const fs::path& group) {
    return quotaCores(number(firstLine(group / "cpu.cfs_quota_us")),
                      number(firstLine(group / "cpu.cfs_period_us")));
}

// The tightest quota of the group and of every group above it within the mount. A container
// often sees its own group as the mount's root while its cgroup file names the host's path:
// the levels that do not exist are passed over.
unsigned tightest(const fs::path& mount, std::string_view group,
                  unsigned (*coresOf)(const fs::path&)) {
    unsigned limit = 0;
    for (fs::path level = fs::path(group).relative_path();; level = level.parent_path()) {
        const unsigned cores = coresOf(mount / level);
        if (cores > 0 && (limit == 0 || cores < limit))
            limit = cores;
        if (level.empty())
            return limit;
    }
}

bool listsCpu(std::string_view controllers) {
    while (!controllers.empty()) {
        const std::size_t comma = std::min(controllers.find(','), controllers.size());
        if (controllers.substr(0, comma) == "cpu")
            return true;
        controllers.remove_prefix(std::min(comma + 1, controllers.size()));
    }
    return false;
}

// One line of /proc/self/cgroup: "0::/path" for cgroup v2, "4:cpu,cpuacct:/path" for v1.
unsigned lineQuotaCores(const fs::path& root, std::string_view line) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos)
        return 0;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string_view group = line.substr(second + 1);
    if (line.substr(0, first) == "0" && controllers.empty())
        return tightest(root, group, cpuMaxCores);
    if (!listsCpu(controllers))
        return 0;
    // v1 mounts each hierarchy under its controllers' names, "cpu" usually a link to it.
    const fs::path named = root / std::string(controllers);
    std::error_code ec;
    return tightest(fs::is_directory(named, ec) ? named : root / "cpu", group, cfsCores);
}

} // namespace

unsigned affinityCores() {
#ifdef __linux__
    // The set grows until it holds every CPU the kernel knows of.
    for (int cpus = 1024; cpus <= (1 << 20); cpus *= 2) {
        const std::unique_ptr<cpu_set_t, void (*)(cpu_set_t*)> set(
            CPU_ALLOC(cpus), [](cpu_set_t* s) { CPU_FREE(s); });
        if (!set)
            return 0;
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set.get());
        if (sched_getaffinity(0, size, set.get()) == 0)
            return unsigned(CPU_COUNT_S(size, set.get()));
        if (errno != EINVAL)
            return 0;
    }
#endif
    return 0;
}

unsigned cgroupQuotaCores(const fs::path& cgroupRoot, const fs::path& selfCgroup) {
    std::ifstream in(selfCgroup);
    unsigned limit = 0;
    for (std::string line; std::getline(in, line);) {
        const unsigned cores = lineQuotaCores(cgroupRoot, line);
        if (cores > 0 && (limit == 0 || cores < limit))
            limit = cores;
    }
    return limit;
}

unsigned usableCores() {
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (const unsigned limit : {affinityCores(), cgroupQuotaCores()})
        if (limit > 0)
            cores = std::min(cores, limit);
    return cores;
}

} // namespace quillory::renderer
