// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Fuzz target: open arbitrary bytes as a WAV through the encoder's reader and, when they are
// accepted, encode one block with settings taken from the input's last two bytes.
#include "components/encoder/Mp3Stream.h"
#include "components/encoder/WavSource.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr int kBitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr std::int64_t kBlockFrames = 4608;

encoder::Mp3Settings settingsFrom(const std::uint8_t* data, std::size_t size) {
    const unsigned a = size > 0 ? data[size - 1] : 0;
    const unsigned b = size > 1 ? data[size - 2] : 0;
    encoder::Mp3Settings settings;
    settings.vbrMode = static_cast<int>(a & 1);
    settings.channelMode = static_cast<int>((a >> 1) & 3);
    settings.bitRateKbps = kBitRates[b % 14];
    settings.minBitRateKbps = kBitRates[(b >> 4) % 14];
    settings.maxBitRateKbps = kBitRates[(a >> 3) % 14];
    return settings;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    auto source = encoder::WavSource::openMemory({data, size}, "fuzz input", error);
    if (!source)
        return 0;
    encoder::Mp3Stream stream;
    if (!stream.open(settingsFrom(data, size), source->sampleRate(), source->channels()))
        return 0;
    std::vector<float> block(static_cast<std::size_t>(kBlockFrames * source->channels()));
    const std::int64_t got = source->read(block.data(), kBlockFrames);
    if (got < 0)
        return 0;
    if (stream.encode(block.data(), static_cast<std::size_t>(got)) && stream.flush())
        (void)stream.header();
    return 0;
}
