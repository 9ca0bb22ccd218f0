// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Whole-file operations: directory search, deletion by wildcard pattern, copy, and the
// private work folder that holds the program's temporary files.
#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>

namespace platform {

// The native path separator: a backslash on Windows, a slash elsewhere.
QChar PathSeparator();

// True when an ordinary file (not a folder) exists at exactly this path. Nothing is hidden by
// its name: a name starting with a dot counts like any other.
bool FileExists(const QString& path);

// Full paths of the ordinary files in one folder whose names match the wildcard pattern in the
// last component of patternPath ('*' and '?', case-insensitive, as on Windows).
QStringList FindFiles(const QString& patternPath);

// Deletes every ordinary file FindFiles(patternPath) lists; symbolic links are removed, never
// followed. Returns the number of files deleted. Failures are skipped silently.
int DeleteFiles(const QString& patternPath);

// Deletes one ordinary file. False when it does not exist or cannot be deleted.
bool DeleteFile(const QString& path);

// Copies source over target. The copy is written beside the target and renamed into place, so
// a failed copy leaves an existing target whole; a replaced target keeps its mode and group, and
// a link is written through.
bool CopyFile(const QString& source, const QString& target);

// A path for the standard library's file functions, in the file system's own encoding.
std::filesystem::path ToFsPath(const QString& path);

// The folder of the running executable, without a trailing separator.
QString ProgramFolder();

// The per-user folder for temporary work files, created with owner-only access when missing.
// Never ends in a separator.
QString WorkFolder();

} // namespace platform
