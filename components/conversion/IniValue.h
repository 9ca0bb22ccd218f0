// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The three text functions every access to a settings file goes through: a path joined with one
// separator, and one value read or written with its spaces and NUL characters dropped.
#pragma once

#include <QString>
#include <cstdint>

namespace quillory::conversion {

// The name inside the folder; the folder's spaces are dropped, and an empty folder gives the name.
QString JoinPath(const QString& folder, const QString& name);
// The trimmed value of key in section, or defaultValue when the file, section or key is missing.
QString ReadIniValue(const QString& section, const QString& key, const QString& defaultValue,
                     const QString& filePath);
// Stores the trimmed value; an empty value removes the key, an empty key the whole section.
// Non-zero on success.
std::int32_t WriteIniValue(const QString& section, const QString& key, const QString& value,
                           const QString& filePath);

} // namespace quillory::conversion
