// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// options.ini: two sections, eight keys. A value that does not convert leaves its field at
// the default, so a hand-edited file can never stop the program from starting.
#include "app/settings/Settings.h"

#include "platform/Files.h"
#include "platform/Profile.h"
#include "platform/Text.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <limits>
#include <optional>

namespace {

const QString SectionMp3 = QStringLiteral("MP3");
const QString SectionWav = QStringLiteral("WAV");
constexpr int ReadBufferSize = 2048;

SettingsFiles& filesInUse() {
    static SettingsFiles files;
    return files;
}

// Plain decimal integers with an optional sign; anything else does not convert.
std::optional<std::int32_t> toInt32(const QString& text) {
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return std::int32_t(value);
}

std::optional<bool> toBool(const QString& text) {
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

void readInt(const QString& file, const QString& section, const QString& key,
             std::int32_t defaultValue, std::int32_t& field) {
    const QString text = ReadIniValue(section, key, QString::number(defaultValue), file);
    field = toInt32(text).value_or(defaultValue);
}

bool writeInt(const QString& file, const QString& section, const QString& key, std::int32_t value) {
    return WriteIniValue(section, key, QString::number(value), file) != 0;
}

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

SettingsRecord& Settings() {
    static SettingsRecord record;
    return record;
}

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

void SetDefaultSettings() {
    SettingsRecord& s = Settings();
    s.Bitrate = 128;
    s.Mp3Channels = 0;
    s.VBR = false;
    s.MinBitrate = 32;
    s.MaxBitrate = 320;
    s.Frequency = 44100;
    s.WavChannels = 2;
    s.Bits = 16;
}

void LoadSettings() {
    SettingsRecord& s = Settings();
    const QString file = SettingsReadPath();
    readInt(file, SectionMp3, QStringLiteral("Bitrate"), 128, s.Bitrate);
    readInt(file, SectionMp3, QStringLiteral("Mp3Channels"), 0, s.Mp3Channels);
    readInt(file, SectionMp3, QStringLiteral("MaxBitrate"), 320, s.MaxBitrate);
    readInt(file, SectionMp3, QStringLiteral("MinBitrate"), 32, s.MinBitrate);
    const QString vbr =
        ReadIniValue(SectionMp3, QStringLiteral("VBR"), QStringLiteral("False"), file);
    s.VBR = toBool(vbr).value_or(false);
    readInt(file, SectionWav, QStringLiteral("Bits"), 16, s.Bits);
    readInt(file, SectionWav, QStringLiteral("WavChannels"), 2, s.WavChannels);
    readInt(file, SectionWav, QStringLiteral("Frequency"), 44100, s.Frequency);
}

bool SaveSettings() {
    const SettingsRecord& s = Settings();
    const QString file = SettingsWritePath();
    bool ok = writeInt(file, SectionMp3, QStringLiteral("Bitrate"), s.Bitrate);
    ok &= writeInt(file, SectionMp3, QStringLiteral("Mp3Channels"), s.Mp3Channels);
    ok &= writeInt(file, SectionMp3, QStringLiteral("MaxBitrate"), s.MaxBitrate);
    ok &= writeInt(file, SectionMp3, QStringLiteral("MinBitrate"), s.MinBitrate);
    ok &= WriteIniValue(SectionMp3, QStringLiteral("VBR"),
                        s.VBR ? QStringLiteral("True") : QStringLiteral("False"), file) != 0;
    ok &= writeInt(file, SectionWav, QStringLiteral("Bits"), s.Bits);
    ok &= writeInt(file, SectionWav, QStringLiteral("WavChannels"), s.WavChannels);
    ok &= writeInt(file, SectionWav, QStringLiteral("Frequency"), s.Frequency);
    return ok;
}
