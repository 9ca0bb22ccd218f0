// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What libebur128, read here directly and not through the code under test, measures in a file
// we made: integrated loudness, true peak and sample peak. WAVs are read with libsndfile as
// floats; decoded MP3s come as floats already.
#pragma once

#include <ebur128.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <vector>

namespace levelprobe {

struct Level {
    double lufs = -std::numeric_limits<double>::infinity();
    double truePeakDbtp = -std::numeric_limits<double>::infinity();
    double samplePeak = 0; // linear, 1.0 is full scale
};

inline Level measure(const std::vector<float>& interleaved, int channels, int rate) {
    if (channels < 1 || rate < 1)
        return {};
    ebur128_state* st =
        ebur128_init(unsigned(channels), unsigned(rate), EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (channels == 1)
        ebur128_set_channel(st, 0, EBUR128_DUAL_MONO);
    ebur128_add_frames_float(st, interleaved.data(), interleaved.size() / std::size_t(channels));
    Level level;
    ebur128_loudness_global(st, &level.lufs);
    double peak = 0;
    for (int c = 0; c < channels; ++c) {
        double p = 0;
        ebur128_true_peak(st, unsigned(c), &p);
        peak = std::max(peak, p);
    }
    level.truePeakDbtp = 20 * std::log10(peak);
    ebur128_destroy(&st);
    for (float s : interleaved)
        level.samplePeak = std::max(level.samplePeak, double(std::fabs(s)));
    return level;
}

struct Audio {
    std::vector<float> samples; // interleaved
    int channels = 0;
    int rate = 0;
};

// 16-bit samples come back as s / 32768, so full scale in the file reads as -1.0 or 32767/32768.
inline Audio readWav(const std::filesystem::path& path) {
    Audio audio;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &info);
    if (!file)
        return audio;
    audio.channels = info.channels;
    audio.rate = info.samplerate;
    audio.samples.resize(std::size_t(info.frames) * std::size_t(info.channels));
    sf_readf_float(file, audio.samples.data(), info.frames);
    sf_close(file);
    return audio;
}

inline Level measureWav(const std::filesystem::path& path) {
    const Audio audio = readWav(path);
    return measure(audio.samples, audio.channels, audio.rate);
}

} // namespace levelprobe
