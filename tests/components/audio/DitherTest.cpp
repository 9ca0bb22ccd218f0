// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Dithered reduction to 8 and 16 bits, judged by the spectrum of the error against the ideal
// signal: with dither it is noise, spread evenly, never harmonics of the music. The 8-bit case
// goes through libsndfile into a real unsigned 8-bit WAV and is read back byte by byte.
#include "components/audio/Dither.h"
#include "tests/components/renderer/RenderSupport.h"
#include "tests/components/renderer/WavProbe.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <vector>

using quillory::renderer::DitherQuantizer;

namespace {

// |X[k]|² of the discrete Fourier transform of x at bin k.
double binPower(const std::vector<double>& x, std::size_t k) {
    const std::complex<double> step =
        std::polar(1.0, -2 * std::numbers::pi * double(k) / double(x.size()));
    std::complex<double> phasor = 1, sum = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        sum += x[n] * phasor;
        phasor *= step;
        if (n % 1024 == 1023)
            phasor /= std::abs(phasor);
    }
    return std::norm(sum);
}

struct Spectrum {
    double floor = 0;         // mean power of bins away from the tone and its harmonics
    double worstHarmonic = 0; // highest power at DC, the tone or harmonics 2 to 9, over floor
};

Spectrum errorSpectrum(const std::vector<double>& error, std::size_t toneBin) {
    const std::size_t n = error.size();
    auto nearHarmonic = [&](std::size_t k) {
        for (std::size_t h = 0; h <= 9; ++h)
            if (k + 3 > h * toneBin && k < h * toneBin + 3)
                return true;
        return false;
    };
    Spectrum s;
    int counted = 0;
    for (std::size_t k = 101; k < n / 2; k += 97) {
        if (nearHarmonic(k))
            continue;
        s.floor += binPower(error, k);
        ++counted;
    }
    s.floor /= counted;
    for (std::size_t h = 0; h <= 9; ++h)
        s.worstHarmonic = std::max(s.worstHarmonic, binPower(error, h * toneBin) / s.floor);
    return s;
}

double variance(const std::vector<double>& x) {
    double sum = 0, squares = 0;
    for (double v : x) {
        sum += v;
        squares += v * v;
    }
    const double mean = sum / double(x.size());
    return squares / double(x.size()) - mean * mean;
}

std::vector<float> sine(std::size_t samples, std::size_t bin, double amplitude) {
    std::vector<float> x(samples);
    for (std::size_t n = 0; n < samples; ++n)
        x[n] =
            float(amplitude * std::sin(2 * std::numbers::pi * double(bin * n) / double(samples)));
    return x;
}

// Writes 8-bit quantiser output as libsndfile is meant to get it, and reads the bytes back.
WavProbe throughUnsigned8BitWav(const std::vector<std::int16_t>& samples,
                                const std::filesystem::path& path) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr);
    sf_writef_short(file, samples.data(), sf_count_t(samples.size()));
    sf_close(file);
    return WavProbe::read(path);
}

} // namespace

TEST(Dither, EightBitsOfAQuietToneKeepTheToneAndTurnTheErrorIntoNoise) {
    rendertest::TempFolder folder;
    constexpr std::size_t kSamples = 1 << 16;
    constexpr std::size_t kTone = 1021;
    // -40 dBFS: 1.28 steps of 8 bits, where plain rounding makes a buzzing square wave of it.
    const std::vector<float> ideal = sine(kSamples, kTone, 0.01);
    std::vector<std::int16_t> quantized(kSamples);
    DitherQuantizer quantizer(8);
    quantizer.quantize(ideal.data(), kSamples, 1.0f, quantized.data());

    const WavProbe wav = throughUnsigned8BitWav(quantized, folder / "quiet.wav");
    ASSERT_TRUE(wav.valid);
    ASSERT_EQ(wav.bits, 8);
    ASSERT_EQ(wav.samples(), kSamples);
    std::vector<double> error(kSamples);
    for (std::size_t n = 0; n < kSamples; ++n) {
        ASSERT_EQ(quantized[n] % 256, 0) << n;
        // libsndfile stored exactly the value it was given.
        ASSERT_EQ(wav.sample(n), quantized[n] / 256) << n;
        error[n] = wav.sample(n) - 128.0 * ideal[n]; // in 8-bit steps
    }
    const Spectrum dithered = errorSpectrum(error, kTone);
    EXPECT_LT(dithered.worstHarmonic, 10.0);
    // TPDF dither of ±1 step plus rounding: an error of 1/4 step² in all, no more, no less.
    EXPECT_NEAR(variance(error), 0.25, 0.03);

    // What the same tone becomes without dither, for scale: the check above has teeth.
    std::vector<double> rounded(kSamples);
    for (std::size_t n = 0; n < kSamples; ++n)
        rounded[n] = std::nearbyint(128.0 * ideal[n]) - 128.0 * ideal[n];
    double loudestHarmonic = 0;
    for (std::size_t h = 1; h <= 9; ++h)
        loudestHarmonic = std::max(loudestHarmonic, binPower(rounded, h * kTone));
    EXPECT_GT(loudestHarmonic / dithered.floor, 300.0);
}

TEST(Dither, SixteenBitsOfATinyToneAreDitheredToo) {
    constexpr std::size_t kSamples = 1 << 14;
    constexpr std::size_t kTone = 331;
    const std::vector<float> ideal = sine(kSamples, kTone, 1.5 / 32768.0);
    std::vector<std::int16_t> quantized(kSamples);
    DitherQuantizer quantizer(16, 42);
    // The gain is part of the quantiser's job: half of a tone twice as loud.
    std::vector<float> louder(ideal);
    for (float& v : louder)
        v *= 2.0f;
    quantizer.quantize(louder.data(), kSamples, 0.5f, quantized.data());
    std::vector<double> error(kSamples);
    for (std::size_t n = 0; n < kSamples; ++n)
        error[n] = quantized[n] - 32768.0 * ideal[n];
    EXPECT_LT(errorSpectrum(error, kTone).worstHarmonic, 10.0);
    EXPECT_NEAR(variance(error), 0.25, 0.03);
}

TEST(Dither, NeverLeavesTheFormatWhateverComesIn) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> pattern = {0.0f,  1.0f,  -1.0f,  0.9999f, -0.9999f, 1.5f,
                                        -1.5f, 1e30f, -1e30f, inf,     -inf,     std::nanf("")};
    std::vector<float> in;
    for (int i = 0; i < 2000; ++i)
        in.insert(in.end(), pattern.begin(), pattern.end());
    for (int bits : {8, 16}) {
        SCOPED_TRACE(bits);
        DitherQuantizer quantizer(bits);
        std::vector<std::int16_t> out(in.size());
        quantizer.quantize(in.data(), in.size(), 1.0f, out.data());
        const int step = bits == 8 ? 256 : 1;
        for (std::size_t i = 0; i < in.size(); ++i) {
            ASSERT_EQ(out[i] % step, 0) << i;
            // 32767 and -32768 for 16 bits; 127 and -128 steps of 256 for 8.
            ASSERT_LE(out[i], 32768 - step) << i;
            ASSERT_GE(out[i], -32768) << i;
            if (in[i] == 0.0f || std::isnan(in[i])) {
                ASSERT_LE(std::abs(out[i]), step) << i;
            }
        }
        EXPECT_GT(quantizer.clipped(), 0u);
    }
}
