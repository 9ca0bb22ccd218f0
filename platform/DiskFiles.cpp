// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/DiskFiles.h"

#include <algorithm>
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

// Removes an ordinary file, or a folder with all it holds, once this process has its lock.
bool removeUnlocked(const std::filesystem::path& path, bool folder) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC |
                                            (folder ? O_DIRECTORY : 0));
    if (fd < 0)
        return false;
    struct stat info {};
    std::error_code ec;
    const bool removed =
        ::fstat(fd, &info) == 0 && (folder ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode)) &&
        retryingInterrupts(::flock, fd, LOCK_EX | LOCK_NB) == 0 &&
        (folder ? std::filesystem::remove_all(path, ec) > 0 && !ec : ::unlink(path.c_str()) == 0);
    ::close(fd);
    return removed;
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
    return removeUnlocked(path, false);
}

int CreateLockedFolder(const std::filesystem::path& path, unsigned mode) {
    if (::mkdir(path.c_str(), mode_t(mode)) != 0)
        return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        ::rmdir(path.c_str());
        errno = code;
        return -1;
    }
    retryingInterrupts(::flock, fd, LOCK_EX | LOCK_NB);
    return fd;
}

bool RemoveUnlockedFolder(const std::filesystem::path& path) {
    return removeUnlocked(path, true);
}

int OpenForReading(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

Lock TryLock(int fd) {
    if (retryingInterrupts(::flock, fd, LOCK_EX | LOCK_NB) == 0)
        return Lock::Taken;
    return errno == EWOULDBLOCK ? Lock::HeldElsewhere : Lock::Unknown;
}

bool StillNamed(int fd, const std::filesystem::path& path) {
    struct stat opened {
    }, named{};
    return ::fstat(fd, &opened) == 0 && opened.st_nlink > 0 && ::lstat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

std::string ReadWhole(int fd, std::size_t most) {
    std::string data;
    char block[4096];
    for (off_t at = 0; data.size() < most;) {
        const ssize_t got = ::pread(fd, block, std::min(sizeof block, most - data.size()), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {};
        if (got == 0)
            return data;
        data.append(block, std::size_t(got));
        at += got;
    }
    return data;
}

std::error_code RewriteFrom(int fd, std::uint64_t offset, std::string_view data) {
    for (std::size_t done = 0; done < data.size();) {
        const ssize_t put =
            ::pwrite(fd, data.data() + done, data.size() - done, off_t(offset + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return lastError();
        done += std::size_t(put);
    }
    if (::ftruncate(fd, off_t(offset + data.size())) != 0)
        return lastError();
    return {};
}

std::uint64_t FileNumber(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? std::uint64_t(info.st_ino) : 0;
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
