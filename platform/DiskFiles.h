// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What the operating system offers for putting a finished file in place safely, without Qt, for
// the engines and tools that write outputs: flushing a file and a folder to disk, a rename that
// never replaces, a replaced file's mode and group, locks that die with their process, and
// whether a process still runs on this machine. Each is one small function, so that another
// system needs only these bodies.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>

namespace platform {

// Flushes an open file's data and size to the disk.
std::error_code SyncFile(int fd);
// Flushes a folder's entries, such as a file just renamed into it, to the disk.
std::error_code SyncFolder(const std::filesystem::path& folder);

// Renames from to to unless something already has that name: then std::errc::file_exists and
// nothing changes. Atomic where the file system can do it; elsewhere through a hard link, and on
// a file system without hard links a rename right after a check.
std::error_code RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// Gives the open file fd the permission bits of the file model, and model's group where this
// user may set it.
void AdoptModeAndGroup(int fd, const std::filesystem::path& model);

// Creates a file that must not exist yet (never through a symbolic link), open for reading and
// writing, with an exclusive lock that lasts until the descriptor is closed or the process ends,
// however it ends. -1 with errno set when it cannot be created; a file system without locks
// gives an unlocked file.
int CreateLockedFile(const std::filesystem::path& path, unsigned mode);
// Removes an ordinary file whose lock nobody holds. False when it is locked, when locks cannot
// be told there, or when it is not an ordinary file or cannot be removed.
bool RemoveUnlockedFile(const std::filesystem::path& path);
void CloseFile(int fd);

long ProcessId();
// Whether a process with this id runs on this machine (as far as this process can see).
bool ProcessRuns(long pid);
// This machine's name; "localhost" when it has none.
std::string HostName();
// The longest file name, in bytes, that the file system of folder takes.
std::size_t NameMax(const std::filesystem::path& folder);

} // namespace platform
