// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/DiskFiles.h"

#include <cerrno>
#include <climits>
#include <cstdio>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

int retryingInterrupts(int (*call)(int, int), int fd, int arg) {
    int rc;
    do
        rc = call(fd, arg);
    while (rc != 0 && errno == EINTR);
    return rc;
}

// For file systems that cannot rename without replacing: a hard link fails rather than replace.
std::error_code linkThenUnlink(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return {};
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS)
        return lastError();
    // No hard links either (FAT, say): as close as such a file system allows.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0)
        return std::make_error_code(std::errc::file_exists);
    if (::rename(from.c_str(), to.c_str()) != 0)
        return lastError();
    return {};
}

} // namespace

std::error_code SyncFile(int fd) {
    int rc;
    do
        rc = ::fsync(fd);
    while (rc != 0 && errno == EINTR);
    return rc == 0 ? std::error_code() : lastError();
}

std::error_code SyncFolder(const std::filesystem::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return lastError();
    const std::error_code ec = SyncFile(fd);
    ::close(fd);
    return ec;
}

std::error_code RenameNoReplace(const std::filesystem::path& from,
                                const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP || errno == EOPNOTSUPP)
        return linkThenUnlink(from, to);
    return lastError();
}

// The group first: changing it may clear the set-id bits that the mode then puts back.
void AdoptModeAndGroup(int fd, const std::filesystem::path& model) {
    struct stat info {};
    if (::stat(model.c_str(), &info) != 0)
        return;
    // A group this user is not in cannot be given (EPERM): the file keeps the user's own.
    [[maybe_unused]] const int grouped = ::fchown(fd, uid_t(-1), info.st_gid);
    [[maybe_unused]] const int moded = ::fchmod(fd, info.st_mode & 07777);
}

int CreateLockedFile(const std::filesystem::path& path, unsigned mode) {
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode));
    if (fd < 0)
        return -1;
    retryingInterrupts(::flock, fd, LOCK_EX | LOCK_NB);
    return fd;
}

bool RemoveUnlockedFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    const bool removed = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                         retryingInterrupts(::flock, fd, LOCK_EX | LOCK_NB) == 0 &&
                         ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
}

void CloseFile(int fd) {
    if (fd >= 0)
        ::close(fd);
}

long ProcessId() {
    return long(::getpid());
}

// A process of another user answers EPERM: it runs all the same.
bool ProcessRuns(long pid) {
    if (pid <= 0 || pid > long(INT_MAX))
        return true;
    return ::kill(pid_t(pid), 0) == 0 || errno != ESRCH;
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

std::size_t NameMax(const std::filesystem::path& folder) {
    const long max = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    return max > 0 ? std::size_t(max) : 255;
}

} // namespace platform
