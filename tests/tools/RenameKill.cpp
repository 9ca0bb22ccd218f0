// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Preloaded into the converter by a test (LD_PRELOAD), this kills the process with SIGKILL, as
// kill -9 would, at the moment the test names: just before the renames into or out of one
// folder, counted from 1, or just after one of them. The converter itself has no such hook.
//   RENAME_KILL_FOLDER  the folder whose renames count (as the converter spells its paths)
//   RENAME_KILL_AT      the rename to die at
//   RENAME_KILL_AFTER   "1": die just after it, not before
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<int> counted{0};

bool inFolder(const char* path) {
    const char* folder = std::getenv("RENAME_KILL_FOLDER");
    return folder != nullptr && path != nullptr &&
           std::filesystem::path(path).parent_path() == std::filesystem::path(folder);
}

// Dies here when this is the moment; `after` says whether the rename is made already.
void maybeDie(const char* from, const char* to, bool after, int number) {
    const char* at = std::getenv("RENAME_KILL_AT");
    const char* whenAfter = std::getenv("RENAME_KILL_AFTER");
    const bool killAfter = whenAfter != nullptr && std::strcmp(whenAfter, "1") == 0;
    if (at == nullptr || std::atoi(at) != number || killAfter != after)
        return;
    std::fprintf(stderr, "rename-kill: killed %s rename %d (%s -> %s)\n",
                 after ? "after" : "before", number, from, to);
    std::fflush(stderr);
    ::kill(::getpid(), SIGKILL);
}

template <typename Call>
int counting(const char* from, const char* to, Call call) {
    if (!inFolder(from) && !inFolder(to))
        return call();
    const int number = ++counted;
    maybeDie(from, to, false, number);
    const int result = call();
    maybeDie(from, to, true, number);
    return result;
}

template <typename F>
F* real(const char* name) {
    return reinterpret_cast<F*>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int rename(const char* from, const char* to) noexcept {
    return counting(from, to,
                    [&] { return real<int(const char*, const char*)>("rename")(from, to); });
}

extern "C" int renameat(int fromDir, const char* from, int toDir, const char* to) noexcept {
    return counting(from, to, [&] {
        return real<int(int, const char*, int, const char*)>("renameat")(fromDir, from, toDir, to);
    });
}

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to,
                         unsigned flags) noexcept {
    return counting(from, to, [&] {
        return real<int(int, const char*, int, const char*, unsigned)>("renameat2")(
            fromDir, from, toDir, to, flags);
    });
}
