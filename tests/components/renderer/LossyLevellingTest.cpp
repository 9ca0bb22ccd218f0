// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The parts of a lossy file's levelling that need no codec to be checked: the verdict on a take
// from what it measured as decoded and the gain of the next, and the 16-bit grid an MP3 is made
// of, which must be what a 16-bit WAV of the same song holds however the song comes in blocks.
#include "components/renderer/LossyLevelling.h"
#include "components/audio/Pcm16Grid.h"
#include "components/levelling/DecodedLoudness.h"
#include "components/output/SoundWriter.h"
#include "tests/components/renderer/LevelProbe.h"
#include "tests/components/renderer/RenderSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

using namespace quillory::renderer;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

} // namespace

TEST(LossyLevelling, KeepsATakeThatKeepsThePromiseAndCorrectsTheGainOfOneThatMisses) {
    const struct {
        const char* name;
        Loudness decoded;
        double gainDb;
        std::optional<double> next; // the gain of the next take, or none: kept
    } cases[] = {
        {"on target", {-16.15, -3.0}, 6.0, {}},
        {"a codec's overshoot over the ceiling", {-17.0, -0.7}, 6.0, 6.0 - 0.55},
        {"just over our margin", {-16.0, -1.05}, 2.0, 2.0 - 0.2},
        {"held down by its peak, close below the ceiling", {-19.0, -1.3}, 3.0, {}},
        {"held down, but the peak leaves room", {-19.0, -2.69}, 3.0, 3.0 + 1.44},
        {"too quiet and nothing holds it", {-17.6, -4.0}, 3.0, 3.0 + 1.6},
        {"too loud", {-15.6, -5.0}, 3.0, 3.0 - 0.4},
        {"raised by the most there is", {-50.0, -30.0}, 24.45, {}},
        {"nearly the most: only the rest", {-50.0, -30.0}, 24.0, 24.45},
        {"no loudness: the peak decides", {-kInf, -6.0}, 0.0, 4.75},
        {"digital silence", {-kInf, -kInf}, 0.0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // LAME lowers a 128 kb/s stream by 0.45 dB, which the most boost makes up for.
        LossyLevelling levelling(LoudnessTarget{}, -0.45);
        const std::optional<double> next = levelling.retake(c.gainDb, c.decoded);
        ASSERT_EQ(next.has_value(), c.next.has_value());
        if (next) {
            EXPECT_NEAR(*next, *c.next, 1e-9);
        }
    }
}

TEST(LossyLevelling, TheFirstTakeLeavesRoomForTheCodecAndNoMoreThanFiveAreMade) {
    LossyLevelling levelling(LoudnessTarget{.lufs = -14.0}, -0.45);
    const LoudnessTarget first = levelling.firstTake();
    EXPECT_EQ(first.lufs, -14.0);
    EXPECT_EQ(first.ceilingDbtp, -1.5);
    EXPECT_EQ(first.encoderGainDb, -0.45);
    const Loudness over{-14.0, -0.5};
    for (int take = 1; take < 5; ++take)
        EXPECT_TRUE(levelling.retake(1.0 - 0.1 * take, over).has_value()) << take;
    EXPECT_FALSE(levelling.retake(0.0, over).has_value());
    EXPECT_EQ(levelling.takes(), 5);
}

// The takes of a real song's MP3 (music007 of planetblupi, 128 kb/s), as decoded: its peak fell
// as the gain rose from the first take to the second, and the first three all missed, the third
// over the ceiling. A fourth between them is held down by its peak within 0.5 dB of the ceiling.
TEST(LossyLevelling, APeakThatFallsAsTheGainRisesStillEndsInATakeThatKeepsThePromise) {
    // Piecewise linear between the measured takes; the loudness follows the gain exactly.
    const double gains[] = {7.707, 7.889, 8.038, 8.188};
    const double peaks[] = {-1.432, -1.549, -1.368, -0.949};
    const auto decode = [&](double gain) {
        std::size_t i = 0;
        while (i + 2 < std::size(gains) && gain > gains[i + 1])
            ++i;
        const double t = (gain - gains[i]) / (gains[i + 1] - gains[i]);
        return Loudness{gain - 24.819, peaks[i] + t * (peaks[i + 1] - peaks[i])};
    };
    LossyLevelling levelling(LoudnessTarget{}, -0.45);
    std::optional<double> gain = 7.707;
    while (gain)
        gain = levelling.retake(*gain, decode(*gain));
    EXPECT_TRUE(levelling.keeps(levelling.bestGainDb(), levelling.bestDecoded()))
        << "kept " << levelling.bestDecoded().integratedLufs << " LUFS, "
        << levelling.bestDecoded().truePeakDbtp << " dBTP after " << levelling.takes();
}

// An MP3 of a short drum hit whose decoded peak did not follow the gain: 0.68 dB more gain raised
// it by 1.28 dB. The third take is aimed by that rise, between the two, and when it and every
// later one pass the ceiling all the same, the first, which did not, is the one kept.
TEST(LossyLevelling, APeakThatDoesNotFollowTheGainIsBracketedAndTheBestTakeKept) {
    LossyLevelling levelling(LoudnessTarget{}, -0.45);
    const std::optional<double> second = levelling.retake(14.786, {-18.177, -1.928});
    ASSERT_TRUE(second.has_value());
    EXPECT_NEAR(*second, 14.786 + 0.678, 1e-9);
    EXPECT_TRUE(levelling.lastIsBest());
    const std::optional<double> third = levelling.retake(*second, {-17.503, -0.652});
    ASSERT_TRUE(third.has_value());
    EXPECT_NEAR(*third, *second - 0.598 * 0.678 / 1.276, 1e-9);
    EXPECT_FALSE(levelling.lastIsBest()) << "over the ceiling";
    // Every later take passes the ceiling too.
    std::optional<double> next = levelling.retake(*third, {-17.8, -0.95});
    while (next)
        next = levelling.retake(*next, {-17.8, -0.95});
    EXPECT_EQ(levelling.takes(), LossyLevelling::kMaxTakes);
    EXPECT_FALSE(levelling.lastIsBest());
    EXPECT_EQ(levelling.bestGainDb(), 14.786);
    EXPECT_EQ(levelling.bestDecoded().truePeakDbtp, -1.928);
}

// The window's WAV and the converter's MP3 must hold the same samples: the grid's, in any blocks,
// are exactly what libsndfile reads back from a 16-bit WAV written in blocks of its own.
TEST(Pcm16Grid, GivesWhatA16BitWavHoldsWhateverTheBlocks) {
    rendertest::TempFolder dir;
    const std::size_t frames = 20000;
    std::vector<float> stereo(2 * frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / 44100.0;
        stereo[2 * i] = float(0.5 * std::sin(2 * std::numbers::pi * 440 * t));
        stereo[2 * i + 1] = float(1e-6 * std::sin(2 * std::numbers::pi * 300 * t));
    }
    {
        SoundWriter wav(dir / "song.wav", {44100, 16, 2}, frames);
        for (std::size_t at = 0; at < frames; at += 4096)
            wav.writeInterleaved(&stereo[2 * at], std::min<std::size_t>(4096, frames - at));
        wav.close();
    }
    const std::vector<float> held = levelprobe::readWav(dir / "song.wav").samples;
    ASSERT_EQ(held.size(), stereo.size());

    Pcm16Grid grid;
    std::vector<float> out;
    std::mt19937 random(7);
    for (std::size_t at = 0; at < frames;) {
        const std::size_t n = std::min<std::size_t>(1 + random() % 1000, frames - at);
        const std::span<const float> ready = grid.add(&stereo[2 * at], 2 * n);
        EXPECT_EQ(ready.size() % 8, 0u);
        out.insert(out.end(), ready.begin(), ready.end());
        at += n;
    }
    const std::span<const float> rest = grid.flush();
    out.insert(out.end(), rest.begin(), rest.end());
    ASSERT_EQ(out.size(), held.size());
    std::size_t differ = 0;
    for (std::size_t i = 0; i < out.size(); ++i)
        differ += out[i] != held[i];
    EXPECT_EQ(differ, 0u);
}

// Our meter of decoded files against libebur128 read directly, on a file that needs no decoder
// of its own: a 16-bit WAV through libsndfile, as Ogg files are read.
TEST(DecodedLoudness, MeasuresTheWholeFileAsLibebur128Does) {
    rendertest::TempFolder dir;
    const std::size_t frames = 3 * 48000;
    std::vector<float> stereo(2 * frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const double v = 0.3 * std::sin(2 * std::numbers::pi * 997 * double(i) / 48000.0);
        stereo[2 * i] = float(v);
        stereo[2 * i + 1] = float(0.5 * v);
    }
    {
        SoundWriter wav(dir / "tone.wav", {48000, 16, 2}, frames);
        wav.writeInterleaved(stereo.data(), frames);
        wav.close();
    }
    const levelprobe::Level expected = levelprobe::measureWav(dir / "tone.wav");
    const Loudness measured = decodedLoudness(dir / "tone.wav", LossyCodec::Vorbis);
    EXPECT_NEAR(measured.integratedLufs, expected.lufs, 1e-9);
    EXPECT_NEAR(measured.truePeakDbtp, expected.truePeakDbtp, 1e-9);
    EXPECT_THROW(decodedLoudness(dir / "missing.ogg", LossyCodec::Opus), RenderError);
}
