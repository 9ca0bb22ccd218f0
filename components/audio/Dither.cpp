#include "components/audio/Dither.h"

#include <algorithm>
#include <cmath>

namespace quillory::renderer {

namespace {

constexpr float kSilentSteps = 1.0f / 256.0f;

} // namespace

DitherQuantizer::DitherQuantizer(int bits, std::uint64_t seed)
    : bits_(bits == 8 || bits == 24 ? bits : 16)
    , state_(seed) {
}

// SplitMix64: fast, and every bit of its output is usable, so one call gives both uniform
// values of a sample's triangular noise.
std::uint64_t DitherQuantizer::nextRandom() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double DitherQuantizer::noise() {
    constexpr double kTwoToMinus32 = 1.0 / 4294967296.0;
    const std::uint64_t r = nextRandom();
    return double(std::int64_t(r & 0xFFFFFFFFu) - std::int64_t(r >> 32)) * kTwoToMinus32;
}

// In double: a float holds no more than the 24 bits themselves, and the noise would be lost.
void DitherQuantizer::quantize(const float* in, std::size_t count, float factor,
                               std::int32_t* out) {
    constexpr double kSteps = 8388608.0;
    constexpr long long kHighest = 8388607;
    const double scale = double(factor) * kSteps;
    for (std::size_t i = 0; i < count; ++i) {
        double v = double(in[i]) * scale;
        if (!(std::fabs(v) >= double(kSilentSteps))) {
            out[i] = 0;
            continue;
        }
        v = v > kSteps + 2.0 ? kSteps + 2.0 : (v < -kSteps - 2.0 ? -kSteps - 2.0 : v);
        long long q = std::llrint(v + noise());
        if (q > kHighest || q < -kHighest - 1) {
            q = q > kHighest ? kHighest : -kHighest - 1;
            ++clipped_;
        }
        out[i] = std::int32_t(q * 256);
    }
}

void DitherQuantizer::quantize(const float* in, std::size_t count, float factor,
                               std::int16_t* out) {
    // Quantisation steps per unit of full scale, and the value of one step in `short` units.
    const float steps = bits_ == 8 ? 128.0f : 32768.0f;
    const int unit = bits_ == 8 ? 256 : 1;
    const long lowest = -static_cast<long>(steps);
    const long highest = static_cast<long>(steps) - 1;
    const float scale = factor * steps;
    constexpr float kTwoToMinus32 = 1.0f / 4294967296.0f;
    for (std::size_t i = 0; i < count; ++i) {
        float v = in[i] * scale;
        // Silence has no error to spread: it stays 0, not a hiss of ±1 step (which at 8 bits is
        // plainly audible). FluidSynth's silence is not exactly zero but a residue of its reverb
        // around 1e-8, so anything within 1/256 of a step of zero counts as silence; in a real
        // signal so few samples come that close that the noise stays as it is.
        if (!(std::fabs(v) >= kSilentSteps)) {
            out[i] = 0;
            continue;
        }
        // Keeps lrintf within range whatever the input; anything this far out clips below.
        v = v > steps + 2.0f ? steps + 2.0f : (v < -steps - 2.0f ? -steps - 2.0f : v);
        const std::uint64_t r = nextRandom();
        // The difference of two uniform values in [0, 1): triangular over (-1, 1) steps.
        const float noise =
            float(std::int64_t(r & 0xFFFFFFFFu) - std::int64_t(r >> 32)) * kTwoToMinus32;
        long q = std::lrintf(v + noise);
        if (q > highest || q < lowest) {
            q = q > highest ? highest : lowest;
            ++clipped_;
        }
        out[i] = static_cast<std::int16_t>(q * unit);
    }
}

StemDither::StemDither(int bits, std::uint64_t seed)
    : steps_(bits == 8    ? 128.0
             : bits == 24 ? 8388608.0
                          : 32768.0)
    , noise_(bits, seed) {
}

long long StemDither::step(double value) {
    long long q = std::llrint(value + noise_.noise());
    const auto highest = static_cast<long long>(steps_) - 1;
    if (q > highest || q < -highest - 1) {
        q = q > highest ? highest : -highest - 1;
        ++clipped_;
    }
    return q;
}

void StemDither::quantize(float* const* stems, std::size_t count, std::size_t samples, float* mix) {
    const double unit = 1.0 / steps_;
    for (std::size_t s = 0; s < samples; ++s) {
        double sum = 0;
        long long before = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const double v = double(stems[i][s]) * steps_;
            if (!(std::fabs(v) >= double(kSilentSteps))) {
                stems[i][s] = 0.0f;
                continue;
            }
            sum += v;
            const long long now = step(std::clamp(sum, -steps_ - 2.0, steps_ + 2.0));
            stems[i][s] = float(double(now - before) * unit);
            before = now;
        }
        mix[s] = float(double(before) * unit);
    }
}

} // namespace quillory::renderer
