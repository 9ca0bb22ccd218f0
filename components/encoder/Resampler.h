// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A WAV at a rate the output format cannot take (Opus codes 8, 12, 16, 24 and 48 kHz only)
// changes rate on the way, through libsamplerate's best sinc converter: a song synthesised for
// such a format is synthesised at its rate instead, so only a recorded WAV ever passes here.
#pragma once

#include <cstddef>
#include <vector>

struct SRC_STATE_tag;

namespace encoder {

class Resampler {
public:
    // Throws std::runtime_error when libsamplerate refuses the conversion.
    Resampler(int channels, int fromRate, int toRate);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Converts `frames` interleaved frames and returns the frames that came out, which stay valid
    // until the next call; `last` flushes what the converter still holds.
    const std::vector<float>& convert(const float* in, std::size_t frames, bool last);

private:
    SRC_STATE_tag* state_ = nullptr;
    int channels_;
    double ratio_;
    std::vector<float> out_;
};

} // namespace encoder
