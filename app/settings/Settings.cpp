// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/settings/Settings.h"

namespace {

SettingsFiles& filesInUse() {
    static SettingsFiles files;
    return files;
}

} // namespace

SettingsRecord& Settings() {
    static SettingsRecord record;
    return record;
}

void SetSettingsFiles(const SettingsFiles& files) {
    filesInUse() = files;
}

const QString& SettingsPath() {
    return filesInUse().saved;
}

void SetSettingsPath(const QString& path) {
    filesInUse() = {path, QString()};
}

QString SettingsReadPath() {
    return filesInUse().toRead();
}

QString SettingsWritePath() {
    return filesInUse().toWrite();
}

void SetDefaultSettings() {
    Settings() = quillory::conversion::DefaultOutputSettings;
}

void LoadSettings() {
    Settings() = quillory::conversion::ReadOutputSettings(SettingsReadPath());
}

bool SaveSettings() {
    return quillory::conversion::WriteOutputSettings(Settings(), SettingsWritePath());
}
