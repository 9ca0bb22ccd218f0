// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// An exclusive lock on a file that the system holds for this process until it is released or
// the process ends, however it ends (a crash, kill -9, a logout). It tells running instances of
// the program from ended ones. Qt's QLockFile is not used: it judges a lock stale from the
// process id written into the file, which a reused id or one from another container sharing
// the home folder misjudges, while this lock dies exactly with its holder.
#pragma once

#include <QString>
#include <cstdint>

namespace platform {

class FileLock {
public:
    enum class Wait { No, Yes };

    FileLock() = default;
    // Opens path, creating it (owner-only) when missing, and locks it. The file is never opened
    // through a symbolic link, and the lock is never inherited by child processes, which would
    // otherwise keep it alive after this process died. Not held when the file cannot be opened
    // or, without Wait::Yes, when another holder has it.
    static FileLock acquire(const QString& path, Wait wait);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    bool held() const;
    void release();

private:
    explicit FileLock(std::intptr_t handle)
        : handle_(handle) {}
    std::intptr_t handle_ = -1;
};

} // namespace platform
