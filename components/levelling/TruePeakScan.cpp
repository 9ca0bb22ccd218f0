// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/levelling/TruePeakScan.h"

#include "components/audio/SamplePeak.h"
#include "components/levelling/Loudness.h"
#include "components/output/SoundWriter.h"

#include <ebur128.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace quillory::renderer {

namespace {

// Frames taken in before they are judged, at most: the stretches of one block are judged
// against the loudest sample of all of them.
constexpr std::size_t kStageFrames = 64 * TruePeakScan::kStretchFrames;
static_assert(TruePeakScan::kStretchFrames >= kMaxTruePeakReach,
              "an interpolated value must depend on its stretch and the one before only");

} // namespace

struct TruePeakScan::Meter {
    ebur128_state* state = nullptr;
};

TruePeakScan::TruePeakScan(int sampleRate, int channels)
    : meter_(new Meter)
    , bound_(truePeakBound(sampleRate))
    , reach_(truePeakReach(sampleRate))
    , channels_(std::size_t(channels))
    , stage_((kMaxTruePeakReach + kStageFrames) * channels_, 0.0f) {
    meter_->state = ebur128_init(unsigned(channels), static_cast<unsigned long>(sampleRate),
                                 EBUR128_MODE_TRUE_PEAK);
    if (!meter_->state) {
        delete meter_;
        throw RenderError("the true-peak meter cannot measure " + std::to_string(channels) +
                          " channels at " + std::to_string(sampleRate) + " Hz");
    }
}

TruePeakScan::~TruePeakScan() {
    ebur128_destroy(&meter_->state);
    delete meter_;
}

void TruePeakScan::add(const float* samples, std::size_t frames) {
    while (frames > 0) {
        const std::size_t n = std::min(frames, kStageFrames - staged_);
        std::copy_n(samples, n * channels_, &stage_[(kMaxTruePeakReach + staged_) * channels_]);
        staged_ += n;
        samples += n * channels_;
        frames -= n;
        judge(false);
    }
}

void TruePeakScan::finish() {
    judge(true);
}

// The whole stretches waiting, or all that waits: their sample peaks first, so that each is
// judged against the loudest sample up to the last of them.
void TruePeakScan::judge(bool all) {
    const std::size_t stretch = kStretchFrames;
    const std::size_t count = all ? staged_ : staged_ / stretch * stretch;
    if (count == 0)
        return;
    peaks_.clear();
    for (std::size_t at = 0; at < count; at += stretch) {
        const std::size_t n = std::min(stretch, count - at);
        peaks_.push_back(peakOf(&stage_[(kMaxTruePeakReach + at) * channels_], n * channels_));
        samplePeak_ = std::max(samplePeak_, peaks_.back());
    }
    for (std::size_t s = 0; s < peaks_.size(); ++s) {
        const float before = s > 0 ? peaks_[s - 1] : lastPeak_;
        if (bound_ * double(std::max(before, peaks_[s])) > double(samplePeak_)) {
            const std::size_t at = s * stretch;
            check(kMaxTruePeakReach + at, std::min(stretch, count - at), frames_ + at);
        }
    }
    lastPeak_ = peaks_.back();
    frames_ += count;
    // The last kMaxTruePeakReach frames judged become what comes before the frames still waiting.
    const std::size_t keep = kMaxTruePeakReach + staged_ - count;
    std::memmove(stage_.data(), &stage_[count * channels_], keep * channels_ * sizeof(float));
    staged_ -= count;
}

// The frames from `at` in the stage, which are the song's from `position`, to libebur128.
void TruePeakScan::check(std::size_t at, std::size_t frames, std::uint64_t position) {
    if (fedTo_ != position) {
        // What the interpolator computes from these frames is mixed with what it held before:
        // not counted.
        if (ebur128_add_frames_float(meter_->state, &stage_[(at - reach_) * channels_], reach_) !=
            EBUR128_SUCCESS)
            throw RenderError("the true-peak meter ran out of memory");
    }
    if (ebur128_add_frames_float(meter_->state, &stage_[at * channels_], frames) != EBUR128_SUCCESS)
        throw RenderError("the true-peak meter ran out of memory");
    for (std::size_t channel = 0; channel < channels_; ++channel) {
        double peak = 0;
        if (ebur128_prev_true_peak(meter_->state, unsigned(channel), &peak) == EBUR128_SUCCESS)
            truePeak_ = std::max(truePeak_, peak);
    }
    fedTo_ = position + frames;
    checked_ += frames;
}

double TruePeakScan::peak() const {
    return std::max(truePeak_, double(samplePeak_));
}

} // namespace quillory::renderer
