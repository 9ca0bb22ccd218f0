// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/shared/FolderMemory.h"

#include "platform/Profile.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString Section = QStringLiteral("Folders");

QString key(DialogFolder kind) {
    switch (kind) {
    case DialogFolder::Midi:
        return QStringLiteral("MIDI");
    case DialogFolder::Target:
        return QStringLiteral("Target");
    case DialogFolder::Tool:
        return QStringLiteral("WAV2MP3");
    }
    return QString();
}

} // namespace

QString StateFilePath() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/quillory/state.ini");
}

QString RememberedFolder(DialogFolder kind) {
    QString folder;
    platform::GetPrivateProfileString(Section, key(kind), QString(), folder, 4096, StateFilePath());
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void RememberFolder(DialogFolder kind, const QString& chosenFile) {
    const QString folder = QFileInfo(chosenFile).absolutePath();
    const QString file = StateFilePath();
    if (folder.isEmpty() || !QDir().mkpath(QFileInfo(file).absolutePath()))
        return;
    platform::WritePrivateProfileString(Section, key(kind), folder, file);
}
