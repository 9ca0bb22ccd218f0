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

// The full path of options.ini; empty until start-up sets it.
const QString& SettingsPath();
void SetSettingsPath(const QString& path);

// The settings file for a program in programFolder: options.ini beside the program, or in the
// user's configuration folder when the program folder cannot be written (an installed program).
QString SettingsPathFor(const QString& programFolder);

QString JoinPath(const QString& folder, const QString& name);
QString ReadIniValue(const QString& section, const QString& key, const QString& defaultValue,
                     const QString& filePath);
std::int32_t WriteIniValue(const QString& section, const QString& key, const QString& value,
                           const QString& filePath);

void SetDefaultSettings();
void LoadSettings();
// True when every value was written.
bool SaveSettings();
