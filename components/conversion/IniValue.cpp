// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/conversion/IniValue.h"

#include "platform/Files.h"
#include "platform/Profile.h"
#include "platform/Text.h"

namespace quillory::conversion {

namespace {

constexpr int ReadBufferSize = 2048;

} // namespace

QString JoinPath(const QString& folder, const QString& name) {
    const QString trimmed = platform::TrimSpaces(folder);
    if (trimmed.isEmpty())
        return name;
    if (trimmed.endsWith(platform::PathSeparator()))
        return trimmed + name;
    return trimmed + platform::PathSeparator() + name;
}

QString ReadIniValue(const QString& section, const QString& key, const QString& defaultValue,
                     const QString& filePath) {
    QString buffer;
    const int n = platform::GetPrivateProfileString(section, key, defaultValue, buffer,
                                                    ReadBufferSize, filePath);
    QString value = buffer.left(n);
    value.remove(QChar(0));
    return platform::TrimSpaces(value);
}

std::int32_t WriteIniValue(const QString& section, const QString& key, const QString& value,
                           const QString& filePath) {
    QString cleaned = value;
    cleaned.remove(QChar(0));
    cleaned = platform::TrimSpaces(cleaned);
    if (!key.isEmpty() && !cleaned.isEmpty())
        return platform::WritePrivateProfileString(section, key, cleaned, filePath);
    if (key.isEmpty())
        return platform::WritePrivateProfileString(section, std::nullopt, std::nullopt, filePath);
    return platform::WritePrivateProfileString(section, key, std::nullopt, filePath);
}

} // namespace quillory::conversion
