// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The folder belongs to one instance alone, so deleting by pattern there can only touch that
// instance's own files, never those of another window converting at the same time.
#include "components/conversion/TempFiles.h"

#include "platform/Files.h"

#include <QFileInfo>
#include <cstdint>
#include <limits>

namespace quillory::conversion {

namespace {

QString inFolder(const QString& folder, const QString& name) {
    return folder + platform::PathSeparator() + name;
}

// Anything at the path, even a folder or a dangling link, makes the name unusable.
bool taken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

QString NewTempPath(const QString& folder, const QString& extension) {
    const QString base = inFolder(folder, QLatin1String(TempFileTag));
    for (std::int32_t n = 1; n < std::numeric_limits<std::int32_t>::max(); ++n) {
        const QString candidate = base + QString::number(n) + extension;
        if (!taken(candidate))
            return candidate;
    }
    return base + QString::number(std::numeric_limits<std::int32_t>::max()) + extension;
}

void DeleteTempFiles(const QString& folder) {
    const QString tag = QLatin1String(TempFileTag);
    platform::DeleteFiles(inFolder(folder, tag + QStringLiteral("*.wav")));
    platform::DeleteFiles(inFolder(folder, tag + QStringLiteral("*.mp3")));
}

} // namespace quillory::conversion
