// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Rounding to the nearest integer with halves going to the even neighbour, and the checked
// narrowing that 16-bit quantities need.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace platform {

inline double RoundHalfEven(double x) {
    const double down = std::floor(x);
    const double diff = x - down;
    if (diff < 0.5)
        return down;
    if (diff > 0.5)
        return down + 1.0;
    return std::fmod(down, 2.0) == 0.0 ? down : down + 1.0;
}

// The rounded value when it fits in T, nothing when it does not (or is not a number).
template <typename T>
std::optional<T> RoundToInt(double x) {
    if (!std::isfinite(x))
        return std::nullopt;
    const double r = RoundHalfEven(x);
    if (r < double(std::numeric_limits<T>::min()) || r > double(std::numeric_limits<T>::max()))
        return std::nullopt;
    return static_cast<T>(r);
}

} // namespace platform
