// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "gauge/ValueAnnouncer.h"

#include <cstdlib>

namespace gauge {

std::optional<std::int64_t> ValueAnnouncer::shown(int value, std::int64_t nowMs) {
    shown_ = value;
    if (value == told_)
        return std::nullopt;
    if (std::abs(value - told_) >= Step || !toldAt_ || nowMs - *toldAt_ >= QuietMs)
        return 0;
    return *toldAt_ + QuietMs - nowMs;
}

int ValueAnnouncer::tell(std::int64_t nowMs) {
    told_ = shown_;
    toldAt_ = nowMs;
    return told_;
}

} // namespace gauge
