// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The folder belongs to this instance alone, so deleting by pattern there can only touch this
// instance's own files, never those of another window converting at the same time.
#include "app/main/TempFiles.h"

#include "platform/Files.h"
#include "platform/InstanceFolder.h"

#include <QFileInfo>
#include <limits>

namespace {

const QString Tag = QStringLiteral("__qlr_");

QString inWorkFolder(const QString& name) {
    return WindowsFolder() + platform::PathSeparator() + name;
}

// Anything at the path, even a folder or a dangling link, makes the name unusable.
bool taken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

QString WindowsFolder() {
    return platform::InstanceFolder();
}

QString NewTempPath(const QString& extension) {
    const QString base = inWorkFolder(Tag);
    for (std::int32_t n = 1; n < std::numeric_limits<std::int32_t>::max(); ++n) {
        const QString candidate = base + QString::number(n) + extension;
        if (!taken(candidate))
            return candidate;
    }
    return base + QString::number(std::numeric_limits<std::int32_t>::max()) + extension;
}

void DeleteTempFiles() {
    platform::DeleteFiles(inWorkFolder(Tag + QStringLiteral("*.wav")));
    platform::DeleteFiles(inWorkFolder(Tag + QStringLiteral("*.mp3")));
}
