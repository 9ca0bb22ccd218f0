#include "components/audio/Dither.h"

#include <cmath>

namespace quillory::renderer {

namespace {

constexpr float kSilentSteps = 1.0f / 256.0f;

} // namespace

DitherQuantizer::DitherQuantizer(int bits, std::uint64_t seed)
    : bits_(bits == 8 ? 8 : 16)
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

} // namespace quillory::renderer
