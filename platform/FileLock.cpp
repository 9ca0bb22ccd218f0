// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/FileLock.h"

#include <QFile>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef _WIN32

// A handle opened without sharing is exclusive while it is open and is not inherited.
FileLock FileLock::acquire(const QString& path, Wait) {
    const HANDLE handle =
        ::CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    return FileLock(reinterpret_cast<std::intptr_t>(handle));
}

void FileLock::release() {
    if (held())
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

#else

namespace {

int lockRetryingInterrupts(int fd, int operation) {
    int rc;
    do
        rc = ::flock(fd, operation);
    while (rc != 0 && errno == EINTR);
    return rc;
}

} // namespace

FileLock FileLock::acquire(const QString& path, Wait wait) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return {};
    FileLock lock(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    const int operation = LOCK_EX | (wait == Wait::Yes ? 0 : LOCK_NB);
    if (lockRetryingInterrupts(fd, operation) != 0)
        return {};
    return lock;
}

void FileLock::release() {
    if (held())
        ::close(int(handle_));
    handle_ = -1;
}

#endif

FileLock::FileLock(FileLock&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)) {
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

FileLock::~FileLock() {
    release();
}

bool FileLock::held() const {
    return handle_ != -1;
}

} // namespace platform
