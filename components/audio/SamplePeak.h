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
    // Four running maxima, so that each comparison need not wait for the one before.
    Floats peaks[4] = {};
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16)
        for (int k = 0; k < 4; ++k) {
            Floats four;
            std::memcpy(&four, samples + i + 4 * k, sizeof four);
            four = Floats(Bits(four) & 0x7fffffffu);
            peaks[k] = peaks[k] > four ? peaks[k] : four;
        }
    Floats all = peaks[0];
    for (int k = 1; k < 4; ++k)
        all = all > peaks[k] ? all : peaks[k];
    float peak = std::max({all[0], all[1], all[2], all[3]});
    for (; i < count; ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

} // namespace quillory::renderer
