// Reduces float samples to 16 or 8 bits with TPDF dither (triangular noise of ±1 step added
// before rounding), so the quantisation error is a steady, signal-independent hiss instead of
// distortion that follows the music: at 8 bits a quiet passage keeps its tone. The gain of the
// loudness pass is applied on the way. Samples beyond full scale are clipped only as a last
// resort; the loudness gain keeps true peaks 1 dB below it.
//
// Output is in libsndfile's `short` units, for sf_write_short/sf_writef_short:
// - 16 bits: the sample itself;
// - 8 bits: the 8-bit sample times 256. libsndfile writes a short s to an unsigned 8-bit WAV as
//   (s >> 8) + 128, which keeps such values exactly; handing it floats or other shorts would let
//   it round or truncate them again, after the dither, and bring the distortion back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillory::renderer {

class DitherQuantizer {
public:
    static constexpr std::uint64_t kDefaultSeed = 0x5157494C4C4F5259ull;

    // bits: 8 or 16 (anything else is taken as 16). Each writer keeps its own quantiser: the
    // noise generator is fast and not shared between threads.
    explicit DitherQuantizer(int bits, std::uint64_t seed = kDefaultSeed);

    // Scales count samples by factor (1.0 is unity; full scale is ±1.0) and quantises them into
    // out. The layout is the caller's: interleaved channels get independent noise per sample.
    // Silence (anything within 1/256 of a step of zero) stays 0, and so does NaN.
    void quantize(const float* in, std::size_t count, float factor, std::int16_t* out);

    int bits() const { return bits_; }
    // Samples that met full scale so far.
    std::uint64_t clipped() const { return clipped_; }

    // Samples are quantised in batches of this many, the noise for a batch made at once.
    static constexpr std::size_t kBatch = 256;

private:
    void makeNoise(float* noise, std::size_t count);

    int bits_;
    // Eight independent xorshift generators side by side, so that a batch of noise is made
    // eight values at a time; each 32-bit draw gives both uniform values of one sample's
    // triangular noise.
    std::uint32_t lanes_[8];
    std::uint64_t clipped_ = 0;
};

} // namespace quillory::renderer
