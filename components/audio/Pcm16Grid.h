// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Float samples brought onto the steps of 16-bit PCM with the TPDF dither of the sound writer
// (DitherQuantizer, its default seed) and handed on as floats, s / 32768: exactly what libsndfile
// reads back from a 16-bit WAV of them. These are the samples an MP3 of a song is made of: the
// window writes them to the 16-bit WAV its encoder reads, and the batch converter hands them to
// the encoder directly, so that both make the same MP3, byte for byte.
//
// The dither's noise runs on from block to block whatever the blocks' sizes: the quantiser takes
// whole groups of eight samples (it draws its noise eight at a time), and the few samples a block
// leaves over go out with the next one, or with flush() at the end.
#pragma once

#include "components/audio/Dither.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quillory::renderer {

class Pcm16Grid {
public:
    // Takes `count` more samples in the caller's layout (interleaved channels) and returns those
    // ready, in order: a multiple of eight, valid until the next call.
    std::span<const float> add(const float* samples, std::size_t count);
    // The samples still held back, once the last block is in.
    std::span<const float> flush();

private:
    std::span<const float> quantize(std::size_t count);

    DitherQuantizer quantizer_{16};
    std::vector<float> in_;
    std::vector<std::int16_t> shorts_;
    std::vector<float> out_;
};

} // namespace quillory::renderer
