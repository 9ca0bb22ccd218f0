// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Reduces float samples to 24, 16 or 8 bits with TPDF dither (triangular noise of ±1 step added
// before rounding), so the quantisation error is a steady, signal-independent hiss instead of
// distortion that follows the music: at 8 bits a quiet passage keeps its tone. The gain of the
// loudness pass is applied on the way. Samples beyond full scale are clipped only as a last
// resort; the loudness gain keeps true peaks 1 dB below it.
//
// Output is in libsndfile's `short` units, for sf_write_short/sf_writef_short:
// - 16 bits: the sample itself;
// - 8 bits: the 8-bit sample times 256. libsndfile writes a short s to an unsigned 8-bit WAV as
//   (s >> 8) + 128, which keeps such values exactly; handing it floats or other shorts would let
//   it round or truncate them again, after the dither, and bring the distortion back;
// - 24 bits: the 24-bit sample times 256, in libsndfile's `int` units (sf_writef_int), which
//   24-bit PCM and FLAC keep exactly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillory::renderer {

class DitherQuantizer {
public:
    static constexpr std::uint64_t kDefaultSeed = 0x5157494C4C4F5259ull;

    // bits: 8, 16 or 24 (anything else is taken as 16). Each writer keeps its own quantiser: the
    // noise generator is fast and not shared between threads. Files meant to be added up (the
    // stems of a song) each take a seed of their own, so that their noise adds as noise.
    explicit DitherQuantizer(int bits, std::uint64_t seed = kDefaultSeed);

    // Scales count samples by factor (1.0 is unity; full scale is ±1.0) and quantises them into
    // out. The layout is the caller's: interleaved channels get independent noise per sample.
    // Silence (anything within 1/256 of a step of zero) stays 0, and so does NaN.
    void quantize(const float* in, std::size_t count, float factor, std::int16_t* out);
    // The same at 24 bits, into libsndfile's int units.
    void quantize(const float* in, std::size_t count, float factor, std::int32_t* out);

    int bits() const { return bits_; }
    // Samples that met full scale so far.
    std::uint64_t clipped() const { return clipped_; }

    // Samples are quantised in batches of this many, the noise for a batch made at once.
    static constexpr std::size_t kBatch = 256;

    // Triangular noise over (-1, 1) steps, `count` values (a multiple of 8).
    void makeNoise(float* noise, std::size_t count);

private:
    int bits_;
    // Eight independent xorshift generators side by side, so that a batch of noise is made
    // eight values at a time; each 32-bit draw gives both uniform values of one sample's
    // triangular noise.
    std::uint32_t lanes_[8];
    std::uint64_t clipped_ = 0;
};

// Quantises the stems of a song together, so that they add up to its mix exactly, sample for
// sample, at any depth. Dithered one by one, the stems' noise would add up: sixteen stems and
// their mix at 16 bits differ by about -84 dBFS RMS of noise. Here the running sums of the stems
// are dithered instead (TPDF, a draw of their own each) and each stem takes the difference of two
// of them: every stem keeps signal-independent noise (3 dB more than one dither), and the last
// running sum is the mix, dithered once. A stem silent at a sample stays 0 there.
class StemDither {
public:
    // bits: 8, 16 or 24 (anything else is taken as 16).
    explicit StemDither(int bits, std::uint64_t seed = DitherQuantizer::kDefaultSeed);

    // stems: `count` buffers of `samples` floats in one layout (full scale ±1.0); each is
    // replaced by its quantised values and the mix's go into mix, all as floats on the steps
    // (a whole number of steps over full scale), which a writer then only rounds off.
    void quantize(float* const* stems, std::size_t count, std::size_t samples, float* mix);
    // Samples that met full scale so far.
    std::uint64_t clipped() const { return clipped_; }

private:
    long long step(double value);

    double steps_;
    DitherQuantizer generator_;
    float noise_[DitherQuantizer::kBatch];
    std::size_t used_ = DitherQuantizer::kBatch;
    std::uint64_t clipped_ = 0;
};

} // namespace quillory::renderer
