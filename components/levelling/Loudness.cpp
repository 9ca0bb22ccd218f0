// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/levelling/Loudness.h"

#include "components/audio/SamplePeak.h"
#include "components/audio/StereoLayout.h"
#include "components/levelling/GatedLoudness.h"
#include "components/output/SoundWriter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace quillory::renderer {

namespace {

ebur128_state* newMeter(int sampleRate, int channels, int mode) {
    ebur128_state* meter =
        ebur128_init(unsigned(channels), static_cast<unsigned long>(sampleRate), mode);
    if (!meter)
        throw RenderError("the loudness meter could not be set up (out of memory)");
    if (channels == 1)
        ebur128_set_channel(meter, 0, EBUR128_DUAL_MONO);
    return meter;
}

} // namespace

struct TruePeakCheck::Meter {
    ebur128_state* state = nullptr;
};

TruePeakCheck::TruePeakCheck(int sampleRate, int channels)
    : meter_(new Meter)
    , sampleRate_(sampleRate)
    , channels_(channels) {
}

TruePeakCheck::~TruePeakCheck() {
    if (meter_->state)
        ebur128_destroy(&meter_->state);
    delete meter_;
}

void TruePeakCheck::begin() {
    if (meter_->state)
        ebur128_destroy(&meter_->state);
    meter_->state = newMeter(sampleRate_, channels_, EBUR128_MODE_TRUE_PEAK);
}

void TruePeakCheck::add(const float* samples, std::size_t frames) {
    if (!meter_->state)
        begin();
    if (ebur128_add_frames_float(meter_->state, samples, frames) != EBUR128_SUCCESS)
        throw RenderError("the loudness meter ran out of memory");
}

void TruePeakCheck::addStereo(const float* stereo, std::size_t frames) {
    add(inChannels(stereo, frames, channels_, mono_), frames);
}

void TruePeakCheck::end() {
    if (!meter_->state)
        return;
    for (int channel = 0; channel < channels_; ++channel) {
        double peak = 0;
        if (ebur128_true_peak(meter_->state, unsigned(channel), &peak) == EBUR128_SUCCESS)
            peak_ = std::max(peak_, peak);
    }
    ebur128_destroy(&meter_->state);
}

struct LoudnessMeter::State {
    GatedLoudness loudness; // the whole song's
};

LoudnessMeter::LoudnessMeter(int sampleRate, int channels)
    : sampleRate_(sampleRate)
    , channels_(channels)
    , check_(sampleRate, channels) {
    if (sampleRate <= 0 || (channels != 1 && channels != 2))
        throw RenderError("the loudness meter cannot measure " + std::to_string(channels) +
                          " channels at " + std::to_string(sampleRate) + " Hz");
    state_ = new State{GatedLoudness(sampleRate)};
}

LoudnessMeter::~LoudnessMeter() {
    delete state_;
}

const std::vector<float>& LoudnessMeter::downmix(const float* left, const float* right,
                                                 std::size_t frames) {
    inChannels(left, right, frames, channels_, scratch_);
    return scratch_;
}

void LoudnessMeter::add(const float* left, const float* right, std::size_t frames) {
    measure(downmix(left, right, frames).data(), frames);
}

void LoudnessMeter::addInterleaved(const float* stereo, std::size_t frames) {
    measure(inChannels(stereo, frames, channels_, scratch_), frames);
}

// Mono as the pair (m, m), which GatedLoudness measures as dual mono.
void LoudnessMeter::measureLoudness(const float* samples, std::size_t frames) {
    if (channels_ == 2) {
        state_->loudness.add(samples, frames);
        return;
    }
    pairs_.resize(2 * frames);
    for (std::size_t i = 0; i < frames; ++i)
        pairs_[2 * i] = pairs_[2 * i + 1] = samples[i];
    state_->loudness.add(pairs_.data(), frames);
}

// samples: as the meter hears them, interleaved stereo or the mono mix.
void LoudnessMeter::measure(const float* samples, std::size_t frames) {
    measureLoudness(samples, frames);
    const std::size_t channels = std::size_t(channels_);
    for (std::size_t done = 0; done < frames;) {
        const std::uint64_t at = frames_ + done;
        const std::size_t stretch = std::size_t(at / kStretchFrames);
        const std::size_t n =
            std::min(frames - done, kStretchFrames - std::size_t(at % kStretchFrames));
        if (stretchPeaks_.size() <= stretch)
            stretchPeaks_.resize(stretch + 1, 0.0f);
        stretchPeaks_[stretch] =
            std::max(stretchPeaks_[stretch], peakOf(&samples[done * channels], n * channels));
        done += n;
    }
    frames_ += frames;
}

std::vector<FrameRange> LoudnessMeter::stretchesToCheck(const LoudnessTarget& target) const {
    std::vector<FrameRange> ranges;
    const double bound = truePeakBound(sampleRate_);
    const double samplePeak =
        stretchPeaks_.empty() ? 0.0 : *std::max_element(stretchPeaks_.begin(), stretchPeaks_.end());
    if (bound <= 1.0 || !(samplePeak > 0.0))
        return ranges;
    // The true peak at which the ceiling starts to cut the gain that loudness alone asks for.
    const double lufs = result().integratedLufs;
    const double boost =
        std::isfinite(lufs) ? std::min(target.lufs - lufs, target.maxBoostDb) : target.maxBoostDb;
    const double theta = std::max(samplePeak, dbToFactor(target.ceilingDbtp - boost));
    const auto reaches = [&](std::size_t s) {
        const double before = s > 0 ? stretchPeaks_[s - 1] : 0.0;
        return bound * std::max<double>(before, stretchPeaks_[s]) > theta;
    };
    for (std::size_t s = 0; s < stretchPeaks_.size(); ++s) {
        if (!reaches(s))
            continue;
        std::size_t last = s;
        while (last + 1 < stretchPeaks_.size() && reaches(last + 1))
            ++last;
        const FrameRange range{
            (s > 0 ? s - 1 : 0) * std::uint64_t(kStretchFrames),
            std::min<std::uint64_t>((last + 1) * std::uint64_t(kStretchFrames), frames_)};
        // A stretch whose context touches the one before is measured with it in one go.
        if (!ranges.empty() && ranges.back().end >= range.begin)
            ranges.back().end = range.end;
        else
            ranges.push_back(range);
        s = last;
    }
    return ranges;
}

void LoudnessMeter::beginCheck() {
    check_.begin();
}

void LoudnessMeter::check(const float* left, const float* right, std::size_t frames) {
    check_.add(downmix(left, right, frames).data(), frames);
}

void LoudnessMeter::endCheck() {
    check_.end();
}

Loudness LoudnessMeter::result() const {
    Loudness result;
    result.integratedLufs = state_->loudness.integratedLufs();
    double peak = std::max(check_.peak(), otherPeak_);
    for (float stretch : stretchPeaks_)
        peak = std::max<double>(peak, stretch);
    result.truePeakDbtp = 20.0 * std::log10(peak);
    return result;
}

double loudnessGainDb(const Loudness& measured, const LoudnessTarget& target) {
    if (!std::isfinite(measured.truePeakDbtp))
        return 0.0;
    double gain = std::min(target.maxBoostDb, target.ceilingDbtp - measured.truePeakDbtp);
    if (std::isfinite(measured.integratedLufs))
        gain = std::min(gain, target.lufs - measured.integratedLufs);
    return gain - target.encoderGainDb;
}

double dbToFactor(double db) {
    return std::pow(10.0, db / 20.0);
}

// The largest sum of coefficient magnitudes of one phase of the interpolator's 49-tap
// Hann-windowed sinc (see Loudness.h), rounded up. At 192 kHz and above it does not interpolate.
double truePeakBound(int sampleRate) {
    if (sampleRate < 96000)
        return 1.8643;
    if (sampleRate < 192000)
        return 2.3070;
    return 1.0;
}

std::size_t truePeakReach(int sampleRate) {
    if (sampleRate < 96000)
        return 13;
    if (sampleRate < 192000)
        return 25;
    return 1;
}

} // namespace quillory::renderer
