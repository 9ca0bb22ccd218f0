// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Temporary work files: "__qlr_<n>.wav" and "__qlr_<n>.mp3" in a folder that belongs to one
// running instance. The folder's contents are the only record of which names are in use.
#pragma once

#include <QString>

namespace quillory::conversion {

// What every temporary file's name starts with, and what a kept result's name must not.
inline constexpr char TempFileTag[] = "__qlr_";

// A full path "__qlr_<n><extension>" in folder that does not exist yet; n counts from 1 on
// every call, so freed numbers are reused.
QString NewTempPath(const QString& folder, const QString& extension);
// Deletes every "__qlr_*.wav" and "__qlr_*.mp3" in folder, silently.
void DeleteTempFiles(const QString& folder);

} // namespace quillory::conversion
