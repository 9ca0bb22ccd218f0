// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Reads back a WAV file byte by byte, independently of libsndfile, so the renderer's tests see
// exactly what a player would: the fmt fields, whether the sizes agree with the file, and the
// samples as signed values.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

struct WavProbe {
    bool valid = false; // RIFF/WAVE with fmt and data, sizes consistent with the file
    int formatTag = 0;
    int channels = 0;
    int sampleRate = 0;
    int bits = 0;
    std::vector<std::uint8_t> data; // the data chunk as stored

    std::size_t frames() const {
        const std::size_t frameBytes = std::size_t(channels) * std::size_t(bits / 8);
        return frameBytes ? data.size() / frameBytes : 0;
    }
    // Sample i (interleaved) as a signed value: -128..127 for 8 bits, -32768..32767 for 16.
    int sample(std::size_t i) const {
        if (bits == 8)
            return int(data[i]) - 128;
        return std::int16_t(data[2 * i] | (data[2 * i + 1] << 8));
    }
    std::size_t samples() const { return bits ? data.size() / std::size_t(bits / 8) : 0; }
    int peak() const {
        int peak = 0;
        for (std::size_t i = 0; i < samples(); ++i)
            peak = std::max(peak, std::abs(sample(i)));
        return peak;
    }

    static std::uint32_t le32(const std::uint8_t* p) {
        return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
    }
    static int le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }

    static WavProbe read(const std::filesystem::path& path) {
        WavProbe probe;
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), {});
        if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(&b[8], "WAVE", 4))
            return probe;
        if (le32(&b[4]) != b.size() - 8)
            return probe;
        bool haveFormat = false;
        for (std::size_t pos = 12; pos + 8 <= b.size();) {
            const std::uint32_t length = le32(&b[pos + 4]);
            if (length > b.size() - pos - 8)
                return probe;
            const std::uint8_t* body = &b[pos + 8];
            if (!std::memcmp(&b[pos], "fmt ", 4) && length >= 16) {
                probe.formatTag = le16(body);
                probe.channels = le16(body + 2);
                probe.sampleRate = int(le32(body + 4));
                probe.bits = le16(body + 14);
                haveFormat = true;
            } else if (!std::memcmp(&b[pos], "data", 4)) {
                probe.data.assign(body, body + length);
                probe.valid = haveFormat;
            }
            pos += 8 + length + (length & 1);
        }
        return probe;
    }
};
