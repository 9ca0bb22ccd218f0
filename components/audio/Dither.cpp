#include "components/audio/Dither.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
    : bits_(bits == 8 ? 8 : 16) {
    for (std::uint32_t& lane : lanes_)
        lane = seedOf(seed);
}

// The difference of two uniform values in [0, 1) of 16 bits each: triangular over (-1, 1) steps.
// Four generators to a vector (GCC's and Clang's vector extensions, which become SSE or NEON
// where there is one and plain code where not): the compiler would not vectorise them itself.
void DitherQuantizer::makeNoise(float* noise, std::size_t count) {
    using Lanes = std::uint32_t __attribute__((vector_size(16)));
    using Ints = std::int32_t __attribute__((vector_size(16)));
    using Floats = float __attribute__((vector_size(16)));
    constexpr float kTwoToMinus16 = 1.0f / 65536.0f;
    Lanes state[2];
    std::memcpy(state, lanes_, sizeof state);
    for (std::size_t at = 0; at < count; at += 4) {
        Lanes& x = state[(at / 4) % 2];
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const Floats low = __builtin_convertvector(Ints(x & 0xFFFFu), Floats);
        const Floats high = __builtin_convertvector(Ints(x >> 16), Floats);
        const Floats value = (low - high) * kTwoToMinus16;
        std::memcpy(noise + at, &value, sizeof value);
    }
    std::memcpy(lanes_, state, sizeof state);
}

void DitherQuantizer::quantize(const float* in, std::size_t count, float factor,
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

} // namespace quillory::renderer
