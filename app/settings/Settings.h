// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The output settings: one record for the whole process, the path of its file, and the
// functions every access to options.ini goes through.
#pragma once

#include <QString>
#include <cstdint>

struct SettingsRecord {
    std::int32_t Bitrate = 0;
    std::int32_t Mp3Channels = 0;
    bool VBR = false;
    std::int32_t MinBitrate = 0;
    std::int32_t MaxBitrate = 0;
    std::int32_t Frequency = 0;
    std::int32_t WavChannels = 0;
    std::int32_t Bits = 0;

    bool operator==(const SettingsRecord&) const = default;
};

// The process-wide record; zeroed until start-up assigns the defaults.
SettingsRecord& Settings();

// Which files hold the settings. Saves go to `saved`. A `shipped` file is read in its place
// while `saved` does not exist: an administrator's options.ini beside an installed program, or
// a read-only one. The first save starts `saved` as a byte-for-byte copy of it, so none of its
// other keys and sections are lost, and from then on `saved` alone counts.
struct SettingsFiles {
    QString saved;
    QString shipped; // empty when there is none; when set, `saved` is in the user's folder

    // The file that reads see now.
    QString toRead() const;
    // `saved`, first made from `shipped` when it does not exist yet, its folder created.
    QString toWrite() const;

    bool operator==(const SettingsFiles&) const = default;
};

// For a program in programFolder: options.ini beside the program while it can be written
// there (a build tree); otherwise options.ini in the user's configuration folder, with the one
// beside the program as the shipped file.
SettingsFiles SettingsFilesFor(const QString& programFolder);

// The files in use; empty until start-up sets them. SettingsPath() is the one saves go to.
void SetSettingsFiles(const SettingsFiles& files);
const QString& SettingsPath();
// One file for both reading and saving.
void SetSettingsPath(const QString& path);
// What SettingsFiles::toRead and toWrite give for the files in use.
QString SettingsReadPath();
QString SettingsWritePath();

QString JoinPath(const QString& folder, const QString& name);
QString ReadIniValue(const QString& section, const QString& key, const QString& defaultValue,
                     const QString& filePath);
std::int32_t WriteIniValue(const QString& section, const QString& key, const QString& value,
                           const QString& filePath);

void SetDefaultSettings();
void LoadSettings();
// True when every value was written.
bool SaveSettings();
