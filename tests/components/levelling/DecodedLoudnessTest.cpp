// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The meter of decoded lossy files against libebur128 measuring the whole file, read here
// directly: the true peak must be libebur128's to the bit although its interpolator sees only a
// few stretches, and the loudness, now the levelling meter's, must agree within rounding. The
// files are decoded again here by their own decoders, and the hardest signals put the true peak
// where no sample is loud, in a stretch between louder ones, or at a stretch's start where it
// depends on the stretch before, which is not checked.
#include "components/levelling/DecodedLoudness.h"
#include "components/levelling/TruePeakScan.h"
#include "components/output/SoundWriter.h"
#include "components/renderer/Mp3Take.h"
#include "tests/components/encoder/Mp3Probe.h"
#include "tests/components/renderer/LevelProbe.h"
#include "tests/components/renderer/RenderSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

using namespace quillory::renderer;

namespace {

struct Signal {
    int rate;
    int channels;
    std::vector<float> samples; // interleaved
    std::size_t frames() const { return samples.size() / std::size_t(channels); }
    void set(std::size_t frame, float value) {
        for (int c = 0; c < channels; ++c)
            samples[frame * std::size_t(channels) + std::size_t(c)] = value;
    }
};

// A soft hum with two clicks of 0.5, a twentieth into it and at three quarters. Between them, at
// `at`, six samples of 0.26 and six of 0.3 with the signs that drive the oversampler's
// half-sample phase highest: its true peak, 0.522, lies there, where no sample passes 0.3. With
// `at` six frames before a stretch's start, that peak is computed early in the stretch from all
// twelve: from the 0.26s before it, too quiet for their own stretch to be checked, or, loud first,
// from the 0.3s before it, which a stretch as quiet as 0.26 must be checked for.
Signal hiddenPeak(int rate, int channels, double seconds, std::size_t at, bool loudFirst = false) {
    Signal s{rate, channels,
             std::vector<float>(std::size_t(seconds * rate) * std::size_t(channels))};
    for (std::size_t i = 0; i < s.frames(); ++i)
        s.set(i, float(0.003 * std::sin(2 * std::numbers::pi * 440 * double(i) / rate)));
    s.set(s.frames() / 20, 0.5f);
    s.set(3 * s.frames() / 4, 0.5f);
    const int signs[] = {-1, 1, -1, 1, -1, 1, 1, -1, 1, -1, 1, -1};
    for (std::size_t k = 0; k < 12; ++k)
        s.set(at + k, ((k < 6) != loudFirst ? 0.26f : 0.3f) * float(signs[k]));
    return s;
}

// Decaying notes with overtones, a little apart in the two channels, getting louder: the loudest
// samples come last.
Signal melody(int rate, int channels, double seconds) {
    Signal s{rate, channels,
             std::vector<float>(std::size_t(seconds * rate) * std::size_t(channels))};
    const double scale[] = {261.6, 329.6, 392.0, 523.3, 440.0, 349.2};
    const std::size_t noteFrames = std::size_t(rate) / 4;
    for (std::size_t i = 0; i < s.frames(); ++i) {
        const double f = scale[(i / noteFrames) % 6];
        const double t = double(i % noteFrames) / rate;
        const double w = 2 * std::numbers::pi * f * t;
        const double v = (0.1 + 0.5 * double(i) / double(s.frames())) * std::exp(-t / 0.08) *
                         (std::sin(w) + 0.4 * std::sin(2 * w) + 0.25 * std::sin(5 * w));
        for (int c = 0; c < channels; ++c)
            s.samples[i * std::size_t(channels) + std::size_t(c)] = float(c == 0 ? v : 0.7 * v);
    }
    return s;
}

double db(double linear) {
    return 20 * std::log10(linear);
}

struct Scanned {
    double peakDbtp;
    std::uint64_t checked;
};

// Fed in blocks of changing size, some of a single frame, so that stretches and blocks cross.
Scanned scan(const Signal& s) {
    TruePeakScan scan(s.rate, s.channels);
    const std::size_t sizes[] = {777, 1, 4096, 31, 33, 1, 10000};
    std::size_t at = 0;
    for (std::size_t k = 0; at < s.frames(); ++k) {
        const std::size_t n = std::min(sizes[k % std::size(sizes)], s.frames() - at);
        scan.add(&s.samples[at * std::size_t(s.channels)], n);
        at += n;
    }
    scan.finish();
    EXPECT_EQ(scan.frames(), s.frames());
    return {db(scan.peak()), scan.framesChecked()};
}

} // namespace

TEST(TruePeakScan, GivesLibebur128sTruePeakOfTheWholeWhileCheckingFewStretches) {
    const std::size_t stretch = TruePeakScan::kStretchFrames;
    Signal between{44100, 2, std::vector<float>(2 * 44100)};
    for (std::size_t i = 0; i < between.frames(); ++i) // a quarter of the rate, off its crests
        between.set(i, float(0.4 * std::sin(std::numbers::pi * (0.5 * double(i) + 0.25))));
    Signal louder{48000, 2, std::vector<float>(2 * 3 * 48000)};
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0, 1);
    for (std::size_t i = 0; i < louder.samples.size(); ++i)
        louder.samples[i] = float(0.25 * noise(random) * double(i) / double(louder.samples.size()));
    const Signal silence{44100, 1, std::vector<float>(44100)};
    const struct {
        const char* name;
        Signal signal;
        // Share of the frames: the hum before the first click is checked, since nothing louder
        // was heard yet.
        double checkedAtMost;
    } cases[] = {
        {"hidden peak", hiddenPeak(44100, 2, 2, 1700 * stretch - 6), 0.06},
        {"hidden peak, mono, across blocks", hiddenPeak(22050, 1, 2, 4096 * 5 - 6), 0.06},
        {"hidden peak, loud first", hiddenPeak(44100, 2, 2, 1300 * stretch - 6, true), 0.06},
        {"hidden peak, at 96 kHz", hiddenPeak(96000, 2, 1, 1500 * stretch + 3), 0.06},
        {"at 192 kHz, where nothing is interpolated", hiddenPeak(192000, 2, 1, 50000), 0.0},
        {"between samples everywhere", between, 1.0},
        {"louder to the end", louder, 1.0},
        {"silence", silence, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const levelprobe::Level whole =
            levelprobe::measure(c.signal.samples, c.signal.channels, c.signal.rate);
        const Scanned got = scan(c.signal);
        EXPECT_EQ(got.peakDbtp, whole.truePeakDbtp);
        EXPECT_LE(double(got.checked), c.checkedAtMost * double(c.signal.frames()));
    }
    // The checks above have teeth: the true peak lies between the samples, above every one.
    const Signal hidden = hiddenPeak(44100, 2, 2, 1700 * stretch - 6);
    EXPECT_GT(levelprobe::measure(hidden.samples, 2, 44100).truePeakDbtp, db(0.5) + 0.3);
}

// The files a conversion writes, decoded by libmpg123 and libsndfile on their own here; and the
// hidden peak in a WAV, which libsndfile gives back as it was written.
TEST(DecodedLoudness, MeasuresDecodedFilesAsLibebur128DoesTheWholeFile) {
    rendertest::TempFolder dir;
    const auto mp3 = [&](const std::string& name, int channelMode) {
        const Signal song = melody(44100, 2, 6);
        encoder::Mp3Settings settings;
        settings.channelMode = channelMode;
        Mp3Take take(settings, 44100, {}, quillory::output::OutputFile(dir / name));
        take.add(song.samples.data(), song.frames());
        take.finish();
        take.commit();
        const fixtures::Mp3Facts facts = fixtures::probeMp3(dir / name, true);
        EXPECT_TRUE(facts.decoded) << facts.error;
        return levelprobe::Audio{facts.audio, facts.channels, int(facts.rate)};
    };
    const auto sound = [&](const std::string& name, const Signal& song, const SoundFormat& format) {
        SoundWriter writer(dir / name, format, song.frames());
        writer.writeInterleaved(song.samples.data(), song.frames());
        writer.close();
        return levelprobe::readWav(dir / name);
    };
    const std::size_t stretch = TruePeakScan::kStretchFrames;
    const struct {
        std::string name;
        LossyCodec codec;
        levelprobe::Audio decoded;
        double checkedAtMost;
    } cases[] = {
        {"stereo.mp3", LossyCodec::Mp3, mp3("stereo.mp3", 1), 0.5},
        {"mono.mp3", LossyCodec::Mp3, mp3("mono.mp3", 2), 0.5},
        {"song.ogg", LossyCodec::Vorbis,
         sound("song.ogg", melody(44100, 2, 6), {44100, 16, 2, Container::Vorbis}), 0.5},
        {"song.opus", LossyCodec::Opus,
         sound("song.opus", melody(48000, 2, 6), {48000, 16, 2, Container::Opus}), 0.5},
        {"hidden.wav", LossyCodec::Vorbis,
         sound("hidden.wav", hiddenPeak(44100, 2, 3, 3000 * stretch - 6), {44100, 16, 2}), 0.06},
        // Across the 4096 frames the meter decodes at a time.
        {"hidden, loud first.wav", LossyCodec::Vorbis,
         sound("hidden, loud first.wav", hiddenPeak(44100, 2, 3, 4096 * 20 - 6, true),
               {44100, 16, 2}),
         0.06},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GT(c.decoded.samples.size(), 0u);
        const levelprobe::Level whole =
            levelprobe::measure(c.decoded.samples, c.decoded.channels, c.decoded.rate);
        DecodedLoudness meter(dir / c.name, c.codec);
        while (meter.step() > 0) {
        }
        const Loudness got = meter.result();
        EXPECT_EQ(meter.frames(), c.decoded.samples.size() / std::size_t(c.decoded.channels));
        EXPECT_EQ(got.truePeakDbtp, whole.truePeakDbtp);
        EXPECT_NEAR(got.integratedLufs, whole.lufs, 0.001);
        EXPECT_LE(double(meter.framesChecked()), c.checkedAtMost * double(meter.frames()));
        if (c.name.starts_with("hidden")) {
            EXPECT_GT(whole.truePeakDbtp, db(whole.samplePeak) + 0.3) << "the test has no teeth";
        }
    }
}
