// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Private-profile (INI file) access with the Windows semantics the settings file relies on:
// case-insensitive section and key names, trimmed values, in-place replacement, appending of
// missing keys and sections, removal of a key or a section, and every other line kept as it was.
// Duplicates: the first section of a name, and the first key of a name within it, win.
#pragma once

#include <QString>
#include <optional>

namespace platform {

// Copies the value of key in section (or defaultValue when the file, section or key is missing)
// into out, cut to size - 1 characters, and returns the number of characters copied.
int GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                            QString& out, int size, const QString& filePath);

// Stores value under key in section. Without a key the whole section is removed; with a key
// but no value that key is removed. The file is replaced through a temporary file, so a failed
// write leaves the old file whole. Returns non-zero on success.
int WritePrivateProfileString(const QString& section, const std::optional<QString>& key,
                              const std::optional<QString>& value, const QString& filePath);

} // namespace platform
