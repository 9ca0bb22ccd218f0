// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What the operating system offers for putting a finished file in place safely, without Qt, for
// the engines and tools that write outputs: flushing a file and a folder to disk, a rename that
// never replaces, a replaced file's mode and group, locks that die with their process, and
// whether a process still runs on this machine; and for a claim file, reading it whole,
// rewriting its end, and telling that a name still leads to an open file. Each is one small
// function, so that another system needs only these bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
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
// The same for a folder, which CreateLockedFolder opens only to hold its lock; the folder that
// RemoveUnlockedFolder removes goes with all it holds.
int CreateLockedFolder(const std::filesystem::path& path, unsigned mode);
bool RemoveUnlockedFolder(const std::filesystem::path& path);

// Opens an existing ordinary file for reading, never through a symbolic link; -1 (errno set)
// when it cannot.
int OpenForReading(const std::filesystem::path& path);
enum class Lock { Taken, HeldElsewhere, Unknown };
// Takes the open file's exclusive lock without waiting. Unknown where the file system cannot
// lock it.
Lock TryLock(int fd);
// Whether path still names the open file: it was neither removed nor replaced meanwhile.
bool StillNamed(int fd, const std::filesystem::path& path);
// What the open file holds, up to most bytes; empty when it cannot be read.
std::string ReadWhole(int fd, std::size_t most);
// Writes data at offset and ends the file there.
std::error_code RewriteFrom(int fd, std::uint64_t offset, std::string_view data);
// The file number of what path names (the link itself, for a link); 0 when nothing is there.
std::uint64_t FileNumber(const std::filesystem::path& path);

long ProcessId();
// Whether a process with this id runs on this machine (as far as this process can see).
bool ProcessRuns(long pid);
// This machine's name; "localhost" when it has none.
std::string HostName();
// The longest file name, in bytes, that the file system of folder takes.
std::size_t NameMax(const std::filesystem::path& folder);

} // namespace platform
