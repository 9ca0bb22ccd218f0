// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// options.ini: two sections, eight keys. A value that does not convert leaves its field at
// the default, so a hand-edited file can never stop the program from starting.
#include "components/conversion/OutputSettings.h"

#include "components/conversion/IniValue.h"

#include <limits>
#include <optional>

namespace quillory::conversion {

namespace {

struct IntKey {
    const char* name;
    std::int32_t OutputSettings::*field;
};

// In the order they are read and written: VBR stands between the two sections' numbers.
constexpr IntKey Mp3Keys[] = {{"Bitrate", &OutputSettings::Bitrate},
                              {"Mp3Channels", &OutputSettings::Mp3Channels},
                              {"MaxBitrate", &OutputSettings::MaxBitrate},
                              {"MinBitrate", &OutputSettings::MinBitrate}};
constexpr IntKey WavKeys[] = {{"Bits", &OutputSettings::Bits},
                              {"WavChannels", &OutputSettings::WavChannels},
                              {"Frequency", &OutputSettings::Frequency}};

const QString SectionMp3 = QStringLiteral("MP3");
const QString SectionWav = QStringLiteral("WAV");
const QString KeyVbr = QStringLiteral("VBR");

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

QString vbrText(bool vbr) {
    return vbr ? QStringLiteral("True") : QStringLiteral("False");
}

template <std::size_t N>
void readInts(const QString& file, const QString& section, const IntKey (&keys)[N],
              OutputSettings& s) {
    for (const IntKey& key : keys) {
        const std::int32_t defaultValue = DefaultOutputSettings.*key.field;
        const QString text = ReadIniValue(section, QString::fromLatin1(key.name),
                                          QString::number(defaultValue), file);
        s.*key.field = toInt32(text).value_or(defaultValue);
    }
}

template <std::size_t N>
bool writeInts(const QString& file, const QString& section, const IntKey (&keys)[N],
               const OutputSettings& s) {
    bool ok = true;
    for (const IntKey& key : keys)
        ok &= WriteIniValue(section, QString::fromLatin1(key.name), QString::number(s.*key.field),
                            file) != 0;
    return ok;
}

} // namespace

OutputSettings ReadOutputSettings(const QString& file) {
    OutputSettings s;
    readInts(file, SectionMp3, Mp3Keys, s);
    const QString vbr = ReadIniValue(SectionMp3, KeyVbr, vbrText(DefaultOutputSettings.VBR), file);
    s.VBR = toBool(vbr).value_or(DefaultOutputSettings.VBR);
    readInts(file, SectionWav, WavKeys, s);
    return s;
}

bool WriteOutputSettings(const OutputSettings& s, const QString& file) {
    bool ok = writeInts(file, SectionMp3, Mp3Keys, s);
    ok &= WriteIniValue(SectionMp3, KeyVbr, vbrText(s.VBR), file) != 0;
    ok &= writeInts(file, SectionWav, WavKeys, s);
    return ok;
}

} // namespace quillory::conversion
