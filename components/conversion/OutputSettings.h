// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The output settings as a value: the eight keys of options.ini's "MP3" and "WAV" sections,
// read from a file and written to one. Nothing here remembers a file or a record; the window
// keeps its record for the whole run, the converter reads one for each batch.
#pragma once

#include "components/encoder/Mp3Plan.h"

#include <QString>
#include <cstdint>

namespace quillory::conversion {

// Zero until given values: the window's record is zeroed until start-up assigns the defaults.
struct OutputSettings {
    std::int32_t Bitrate = 0;
    std::int32_t Mp3Channels = 0; // 0 stereo, 1 joint stereo, 2 mono, 3 dual channel
    bool VBR = false;
    std::int32_t MinBitrate = 0;
    std::int32_t MaxBitrate = 0;
    std::int32_t Frequency = 0;
    std::int32_t WavChannels = 0;
    std::int32_t Bits = 0;

    bool operator==(const OutputSettings&) const = default;
};

inline constexpr OutputSettings DefaultOutputSettings{128, 0, false, 32, 320, 44100, 2, 16};

// The eight keys as file holds them; a key that is missing or does not convert (letters, a
// fraction, a number beyond 32 bits, a VBR other than True or False) gives its default. A
// missing file gives the defaults and is not created.
OutputSettings ReadOutputSettings(const QString& file);
// Writes all eight keys in their fixed order, changed or not; the file's other lines stay as
// they are. True when every value was written.
bool WriteOutputSettings(const OutputSettings& settings, const QString& file);

// The five MP3 settings as the encoder engine takes them.
inline encoder::Mp3Settings Mp3SettingsOf(const OutputSettings& s) {
    return {s.VBR ? 1 : 0, s.Bitrate, s.Mp3Channels, s.MinBitrate, s.MaxBitrate};
}

} // namespace quillory::conversion
