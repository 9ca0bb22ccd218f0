// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The largest magnitude among samples, four at a time: a plain loop of std::max, bound by the
// rules for NaN, is not vectorised, and over a whole song it cost more than the loudness filters
// or the dither. A NaN among the samples may give a NaN peak.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quillory::renderer {

inline float peakOf(const float* samples, std::size_t count) {
    using Floats = float __attribute__((vector_size(16)));
    using Bits = std::uint32_t __attribute__((vector_size(16)));
    Floats peaks{};
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        Floats four;
        std::memcpy(&four, samples + i, sizeof four);
        four = Floats(Bits(four) & 0x7fffffffu);
        peaks = peaks > four ? peaks : four;
    }
    float peak = std::max({peaks[0], peaks[1], peaks[2], peaks[3]});
    for (; i < count; ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

} // namespace quillory::renderer
