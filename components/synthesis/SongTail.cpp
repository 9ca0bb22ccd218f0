// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/SongTail.h"

#include <algorithm>
#include <cmath>

namespace quillory::renderer {

namespace {

std::uint64_t framesOf(double seconds, int sampleRate) {
    return std::uint64_t(std::llround(seconds * sampleRate));
}

} // namespace

SongTail::SongTail(int sampleRate, double floorDb)
    : floor_(float(std::pow(10.0, floorDb / 20.0)))
    , longest_(longest(sampleRate))
    , quietNeeded_(framesOf(kQuietSeconds, sampleRate))
    , fadeFrames_(framesOf(kFadeSeconds, sampleRate)) {
}

void SongTail::lowerFloorBy(double boostDb) {
    floor_ = float(floor_ * std::pow(10.0, -std::max(0.0, boostDb) / 20.0));
}

std::size_t SongTail::nextStep(std::size_t room) const {
    if (over_)
        return 0;
    const std::uint64_t toStepEnd = kStep - frames_ % kStep;
    return std::size_t(std::min<std::uint64_t>({room, toStepEnd, longest_ - frames_}));
}

std::size_t SongTail::take(float* left, float* right, std::size_t frames) {
    std::size_t taken = 0;
    while (taken < frames && !over_) {
        const std::size_t step = nextStep(frames - taken);
        fade(frames_, left + taken, right + taken, step);
        for (std::size_t i = taken; i < taken + step; ++i) {
            const bool quiet = std::fabs(left[i]) < floor_ && std::fabs(right[i]) < floor_;
            quiet_ = quiet ? quiet_ + 1 : 0;
        }
        taken += step;
        frames_ += step;
        const bool stepEnd = frames_ % kStep == 0;
        over_ = frames_ >= longest_ || (stepEnd && quiet_ >= quietNeeded_);
    }
    return taken;
}

// A linear ramp to silence over the last 50 ms of the longest tail, from where this piece starts.
void SongTail::fade(std::uint64_t from, float* left, float* right, std::size_t count) const {
    const std::uint64_t fadeFrom = longest_ - std::min(fadeFrames_, longest_);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t at = from + i;
        if (at < fadeFrom)
            continue;
        const float gain =
            float(longest_ - 1 - at) / float(std::max<std::uint64_t>(fadeFrames_, 1));
        left[i] *= gain;
        right[i] *= gain;
    }
}

} // namespace quillory::renderer
