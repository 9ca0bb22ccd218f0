// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/components/encoder/WavFixtures.h"

#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <stdexcept>

namespace fixtures {

std::int64_t writeWav(const std::filesystem::path& path, const WavSpec& wanted) {
    SF_INFO info{};
    info.samplerate = wanted.rate;
    info.channels = wanted.channels;
    info.format = wanted.format != 0 ? wanted.format : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot write test WAV: " + std::string(sf_strerror(nullptr)));
    const auto frames = static_cast<std::int64_t>(std::llround(wanted.seconds * wanted.rate));
    std::vector<float> samples(static_cast<std::size_t>(frames * wanted.channels));
    for (std::int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < wanted.channels; ++c)
            samples[static_cast<std::size_t>(i * wanted.channels + c)] = static_cast<float>(
                0.5 * std::sin(2 * M_PI * (220.0 + 110.0 * c) * double(i) / wanted.rate));
    sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    return frames;
}

void writeFloatWav(const std::filesystem::path& path, int rate, int channels,
                   const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot write test WAV: " + std::string(sf_strerror(nullptr)));
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()) / channels);
    sf_close(file);
}

namespace {

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void putTag(std::vector<std::uint8_t>& out, const char* tag) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(tag[i]));
}

} // namespace

std::vector<std::uint8_t> rawWavBytes(const RawWav& wav) {
    std::vector<std::uint8_t> out;
    putTag(out, "RIFF");
    put32(out, static_cast<std::uint32_t>(36 + wav.data.size()));
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    put32(out, 16);
    put16(out, wav.formatTag);
    put16(out, wav.channels);
    put32(out, wav.rate);
    const std::uint32_t blockAlign = wav.channels * ((wav.bits + 7u) / 8u);
    put32(out, wav.rate * blockAlign);
    put16(out, blockAlign);
    put16(out, wav.bits);
    putTag(out, "data");
    put32(out, wav.declaredDataBytes);
    out.insert(out.end(), wav.data.begin(), wav.data.end());
    return out;
}

void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

} // namespace fixtures
