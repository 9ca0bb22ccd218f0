// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What an independent decoder (libmpg123) finds in an MP3: the frame headers' rate, mode and bit
// rates, the length the Xing/LAME header announces, and the decoded audio itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fixtures {

struct Mp3Facts {
    bool decoded = false; // opened and decoded to the end without an error
    std::string error;
    long rate = 0;
    int channels = 0;
    std::set<int> modes; // MPG123_M_STEREO, _JOINT, _DUAL, _MONO of every audio frame
    int minKbps = 0;     // over the audio frames
    int maxKbps = 0;
    int frames = 0;
    std::int64_t samples = 0;       // decoded frames (per channel), encoder delay and padding cut
    std::int64_t headerLength = -1; // length from the Xing/LAME header, before decoding
    bool hasHeaderFrame = false;    // "Xing" or "Info" in the first frame
    std::vector<float> audio;       // interleaved, when asked for
};

Mp3Facts probeMp3(const std::filesystem::path& path, bool keepAudio = false);
// Samples per MPEG frame at a rate: 1152 for MPEG-1, 576 below 32000 Hz.
int samplesPerFrame(long rate);

} // namespace fixtures
