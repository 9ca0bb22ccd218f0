// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/levelling/GatedLoudness.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace quillory::renderer {

namespace {

// Loudness of a mean square, and back: BS.1770's -0.691 dB makes a 997 Hz sine at full scale
// read -3.01 LUFS in each channel.
double loudnessOf(double meanSquare) {
    return 10.0 * std::log10(meanSquare) - 0.691;
}

double meanSquareOf(double lufs) {
    return std::pow(10.0, (lufs + 0.691) / 10.0);
}

const double kAbsoluteGate = meanSquareOf(-70.0);
constexpr double kRelativeGate = 0.1; // -10 LU

// The published analogue prototypes of the two K-weighting stages, matched at any rate by the
// bilinear transform: the recommendation's own coefficients at 48 kHz come out of them.
struct Stage {
    double b0, b1, b2, a1, a2;
};

Stage shelfAt(int rate) {
    const double f0 = 1681.974450955533, gainDb = 3.999843853973347, q = 0.7071752369554196;
    const double k = std::tan(std::numbers::pi * f0 / rate);
    const double vh = std::pow(10.0, gainDb / 20.0);
    const double vb = std::pow(vh, 0.4996667741545416);
    const double a0 = 1.0 + k / q + k * k;
    return {(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
            2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
}

Stage highPassAt(int rate) {
    const double f0 = 38.13547087602444, q = 0.5003270373238773;
    const double k = std::tan(std::numbers::pi * f0 / rate);
    const double a0 = 1.0 + k / q + k * k;
    return {1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
}

} // namespace

// A filter left ringing into silence decays into subnormal numbers, which cost a hundred times
// the time of normal ones; far below anything audible, its state becomes exact silence.
void GatedLoudness::Biquad::settle() {
    constexpr double kTiny = 1e-25;
    for (Pair* z : {&z1, &z2})
        for (int c = 0; c < 2; ++c)
            if (std::fabs((*z)[c]) < kTiny)
                (*z)[c] = 0.0;
}

GatedLoudness::GatedLoudness(int sampleRate)
    : subBlockFrames_((std::size_t(sampleRate) + 5) / 10) {
    const Stage s = shelfAt(sampleRate), h = highPassAt(sampleRate);
    shelf_ = {s.b0, s.b1, s.b2, s.a1, s.a2};
    highPass_ = {h.b0, h.b1, h.b2, h.a1, h.a2};
}

void GatedLoudness::add(const float* stereo, std::size_t frames) {
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min(frames - done, subBlockFrames_ - inSubBlock_);
        Pair sum = sum_;
        for (const float* s = stereo + 2 * done; s != stereo + 2 * (done + n); s += 2) {
            const Pair y = highPass_.step(shelf_.step(Pair{s[0], s[1]}));
            sum += y * y;
        }
        sum_ = sum;
        inSubBlock_ += n;
        done += n;
        if (inSubBlock_ == subBlockFrames_)
            endSubBlock();
    }
    shelf_.settle();
    highPass_.settle();
}

// Every 100 ms closes a block of the last 400 ms.
void GatedLoudness::endSubBlock() {
    recent_[subBlocks_ % recent_.size()] = sum_[0] + sum_[1];
    sum_ = Pair{};
    inSubBlock_ = 0;
    if (++subBlocks_ < recent_.size())
        return;
    const double meanSquare = (recent_[0] + recent_[1] + recent_[2] + recent_[3]) /
                              double(recent_.size() * subBlockFrames_);
    if (meanSquare >= kAbsoluteGate)
        blocks_.push_back(meanSquare);
}

double GatedLoudness::integratedLufs() const {
    double all = 0;
    for (double block : blocks_)
        all += block;
    const double gate = blocks_.empty() ? 0.0 : all / double(blocks_.size()) * kRelativeGate;
    double loud = 0;
    std::size_t count = 0;
    for (double block : blocks_)
        if (block >= gate) {
            loud += block;
            ++count;
        }
    if (count == 0)
        return -std::numeric_limits<double>::infinity();
    return loudnessOf(loud / double(count));
}

} // namespace quillory::renderer
