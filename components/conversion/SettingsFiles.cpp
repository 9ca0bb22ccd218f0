// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/conversion/SettingsFiles.h"

#include "components/conversion/IniValue.h"
#include "platform/Files.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace quillory::conversion {

namespace {

bool isWritableFolder(const QString& folder) {
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

QString userSettingsFile() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString folder =
        QDir::toNativeSeparators(QDir(config).filePath(QStringLiteral("quillory")));
    return JoinPath(folder, QStringLiteral("options.ini"));
}

} // namespace

QString SettingsFiles::toRead() const {
    if (shipped.isEmpty() || QFileInfo::exists(saved))
        return saved;
    return shipped;
}

// A failed copy is not reported here: the save that follows fails too when the folder cannot
// be written, and an unreadable shipped file gave the reads nothing to keep.
QString SettingsFiles::toWrite() const {
    if (shipped.isEmpty() || QFileInfo::exists(saved))
        return saved;
    QDir().mkpath(QFileInfo(saved).absolutePath());
    if (platform::FileExists(shipped))
        platform::CopyFile(shipped, saved);
    return saved;
}

SettingsFiles SettingsFilesFor(const QString& programFolder) {
    const QString beside = JoinPath(programFolder, QStringLiteral("options.ini"));
    const QFileInfo file(beside);
    if (isWritableFolder(programFolder) && (!file.exists() || file.isWritable()))
        return {beside, QString()};
    return {userSettingsFile(), beside};
}

} // namespace quillory::conversion
