// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Test WAV files made on the spot: well-formed ones through libsndfile, and deliberately broken
// ones from a tiny hand-made RIFF writer whose header fields can be set to anything.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace fixtures {

struct WavSpec {
    int rate = 44100;
    int channels = 2;
    int format = 0; // libsndfile format; 0 means 16-bit PCM WAV
    double seconds = 0.2;
};

// Two sines, a different pitch on each channel; returns the frames written.
std::int64_t writeWav(const std::filesystem::path& path, const WavSpec& wanted);
// Exactly these interleaved samples, as a 32-bit float WAV.
void writeFloatWav(const std::filesystem::path& path, int rate, int channels,
                   const std::vector<float>& samples);

struct RawWav {
    std::uint16_t formatTag = 1; // PCM
    std::uint16_t channels = 2;
    std::uint32_t rate = 44100;
    std::uint16_t bits = 16;
    std::uint32_t declaredDataBytes = 0; // what the data chunk header claims
    std::vector<std::uint8_t> data;      // what actually follows it
};
std::vector<std::uint8_t> rawWavBytes(const RawWav& wav);
void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

} // namespace fixtures
