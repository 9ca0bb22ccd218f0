// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/audio/Dither.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// The dither runs over every sample written, and is most of the output pass: where the processor
// has AVX2 it runs from a second copy built for it, eight samples to an instruction, with the same
// results (no fused multiply-add, which would round differently). The sanitizer builds go without
// it (QUILLORY_NO_TARGET_CLONES): its resolver runs before their runtimes are ready.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) &&                             \
    !defined(QUILLORY_NO_TARGET_CLONES)
#define QUILLORY_WIDEST __attribute__((target_clones("avx2", "default")))
#else
#define QUILLORY_WIDEST
#endif

namespace quillory::renderer {

namespace {

constexpr float kSilentSteps = 1.0f / 256.0f;
// Adding and taking away 1.5 * 2^23 rounds a float of magnitude below 2^22 to the nearest whole
// number (halves to even), which the compiler can do eight samples at a time; lrintf cannot.
constexpr float kRounder = 12582912.0f;

// SplitMix64 spreads the seed over the generators' states; a zero state would stay zero.
std::uint32_t seedOf(std::uint64_t& seed) {
    std::uint64_t z = (seed += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    const auto value = std::uint32_t(z ^ (z >> 31));
    return value ? value : 0x9E3779B9u;
}

} // namespace

DitherQuantizer::DitherQuantizer(int bits, std::uint64_t seed)
    : bits_(bits == 8 || bits == 24 ? bits : 16) {
    for (std::uint32_t& lane : lanes_)
        lane = seedOf(seed);
}

// The difference of two uniform values in [0, 1) of 16 bits each: triangular over (-1, 1) steps.
// The eight generators make one vector (GCC's and Clang's vector extensions, which become SSE or
// NEON where there is one and plain code where not): the compiler would not vectorise them itself.
QUILLORY_WIDEST void DitherQuantizer::makeNoise(float* noise, std::size_t count) {
    using Lanes = std::uint32_t __attribute__((vector_size(32)));
    using Ints = std::int32_t __attribute__((vector_size(32)));
    using Floats = float __attribute__((vector_size(32)));
    constexpr float kTwoToMinus16 = 1.0f / 65536.0f;
    Lanes x;
    std::memcpy(&x, lanes_, sizeof x);
    for (std::size_t at = 0; at < count; at += 8) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const Floats low = __builtin_convertvector(Ints(x & 0xFFFFu), Floats);
        const Floats high = __builtin_convertvector(Ints(x >> 16), Floats);
        const Floats value = (low - high) * kTwoToMinus16;
        std::memcpy(noise + at, &value, sizeof value);
    }
    std::memcpy(lanes_, &x, sizeof x);
}

QUILLORY_WIDEST void DitherQuantizer::quantize(const float* in, std::size_t count, float factor,
                                               std::int16_t* out) {
    // Quantisation steps per unit of full scale, and the value of one step in `short` units.
    const float steps = bits_ == 8 ? 128.0f : 32768.0f;
    const float unit = bits_ == 8 ? 256.0f : 1.0f;
    const float lowest = -steps;
    const float highest = steps - 1.0f;
    const float scale = factor * steps;
    float noise[kBatch];
    float rounded[kBatch];
    for (std::size_t at = 0; at < count; at += kBatch) {
        const std::size_t n = std::min(kBatch, count - at);
        makeNoise(noise, (n + 7) & ~std::size_t(7));
        for (std::size_t i = 0; i < n; ++i) {
            const float v = in[at + i] * scale;
            // Silence has no error to spread: it stays 0, not a hiss of ±1 step (which at 8 bits
            // is plainly audible). FluidSynth's silence is not exactly zero but a residue of its
            // reverb around 1e-8, so anything within 1/256 of a step of zero counts as silence;
            // in a real signal so few samples come that close that the noise stays as it is. NaN
            // fails the test too. Written without branches, so that it runs eight at a time.
            const float kept = std::fabs(v) >= kSilentSteps ? v : 0.0f;
            const float keep = kept != 0.0f ? 1.0f : 0.0f;
            // Kept far inside the rounder's range whatever the input; clipped below.
            const float bounded = std::min(std::max(kept, -steps - 2.0f), steps + 2.0f);
            rounded[i] = ((bounded + noise[i] + kRounder) - kRounder) * keep;
            const float q = std::min(std::max(rounded[i], lowest), highest);
            out[at + i] = static_cast<std::int16_t>(q * unit);
        }
        for (std::size_t i = 0; i < n; ++i)
            clipped_ += std::uint64_t(rounded[i] > highest) + std::uint64_t(rounded[i] < lowest);
    }
}

// In double: a float holds no more than the 24 bits themselves, and the noise would be lost.
void DitherQuantizer::quantize(const float* in, std::size_t count, float factor,
                               std::int32_t* out) {
    constexpr double kSteps = 8388608.0;
    constexpr long long kHighest = 8388607;
    const double scale = double(factor) * kSteps;
    float noise[kBatch];
    for (std::size_t at = 0; at < count; at += kBatch) {
        const std::size_t n = std::min(kBatch, count - at);
        makeNoise(noise, (n + 7) & ~std::size_t(7));
        for (std::size_t i = 0; i < n; ++i) {
            double v = double(in[at + i]) * scale;
            if (!(std::fabs(v) >= double(kSilentSteps))) {
                out[at + i] = 0;
                continue;
            }
            v = std::clamp(v, -kSteps - 2.0, kSteps + 2.0);
            long long q = std::llrint(v + double(noise[i]));
            if (q > kHighest || q < -kHighest - 1) {
                q = q > kHighest ? kHighest : -kHighest - 1;
                ++clipped_;
            }
            out[at + i] = std::int32_t(q * 256);
        }
    }
}

StemDither::StemDither(int bits, std::uint64_t seed)
    : steps_(bits == 8    ? 128.0
             : bits == 24 ? 8388608.0
                          : 32768.0)
    , generator_(bits, seed) {
}

long long StemDither::step(double value) {
    if (used_ == DitherQuantizer::kBatch) {
        generator_.makeNoise(noise_, DitherQuantizer::kBatch);
        used_ = 0;
    }
    long long q = std::llrint(value + double(noise_[used_++]));
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
