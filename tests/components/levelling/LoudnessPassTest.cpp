// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The loudness pass end to end on generated songs of very different levels: measured while kept
// in the float intermediate, its true peak checked where it can matter, read back, levelled with
// one gain and dithered to 16 bits. The result is measured here with libebur128 directly, not
// through the code under test.
#include "components/audio/Dither.h"
#include "components/levelling/FloatIntermediate.h"
#include "components/levelling/LevelledSource.h"
#include "components/levelling/Loudness.h"
#include "components/output/SoundWriter.h"
#include "tests/components/renderer/LevelProbe.h"
#include "tests/components/renderer/RenderSupport.h"

#include <gtest/gtest.h>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <numeric>
#include <optional>
#include <random>
#include <vector>

using namespace quillory::renderer;
namespace fs = std::filesystem;

namespace {

constexpr int kRate = 44100;
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;
};

Stereo silence(double seconds) {
    const std::size_t frames = std::size_t(seconds * kRate);
    return {std::vector<float>(frames), std::vector<float>(frames)};
}

void addSine(Stereo& s, double frequency, double amplitude, double rightShare = 1.0) {
    for (std::size_t i = 0; i < s.left.size(); ++i) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * frequency * i / kRate);
        s.left[i] += float(v);
        s.right[i] += float(v * rightShare);
    }
}

// A melody of decaying notes with a few overtones, like a piano played softly.
Stereo pianoLine(double amplitude) {
    Stereo s = silence(12);
    const double scale[] = {261.6, 293.7, 329.6, 349.2, 392.0, 440.0, 493.9, 523.3};
    const std::size_t noteFrames = kRate / 2;
    for (std::size_t i = 0; i < s.left.size(); ++i) {
        const double f = scale[(i / noteFrames) % 8];
        const double t = double(i % noteFrames) / kRate;
        const double w = 2 * std::numbers::pi * f * t;
        const double v = amplitude * std::exp(-t / 0.25) *
                         (std::sin(w) + 0.4 * std::sin(2 * w) + 0.2 * std::sin(3 * w));
        s.left[i] = float(v);
        s.right[i] = float(0.8 * v);
    }
    return s;
}

// Many loud partials and noise at once: far beyond full scale at gain 1.
Stereo denseAndClipping() {
    Stereo s = silence(10);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> frequency(60, 6000), phase(0, 2 * std::numbers::pi);
    std::normal_distribution<double> noise(0, 0.15);
    std::vector<std::pair<double, double>> partials(24);
    for (auto& p : partials)
        p = {frequency(random), phase(random)};
    for (std::size_t i = 0; i < s.left.size(); ++i) {
        double v = 0;
        for (const auto& [f, p] : partials)
            v += 0.11 * std::sin(2 * std::numbers::pi * f * i / kRate + p);
        s.left[i] = float(v + noise(random));
        s.right[i] = float(-v + noise(random));
    }
    return s;
}

// A soft pad with a few sharp, loud clicks: its peaks, not its loudness, limit the gain.
Stereo padWithClicks() {
    Stereo s = silence(10);
    addSine(s, 220, 0.004);
    addSine(s, 330, 0.003, 0.5);
    for (std::size_t at = kRate; at < s.left.size(); at += 2 * kRate) {
        for (std::size_t i = 0; i < 40; ++i) {
            const float v = float(0.7 * std::exp(-double(i) / 8.0) * (i % 2 ? -1 : 1));
            s.left[at + i] += v;
            s.right[at + i] += v;
        }
    }
    return s;
}

// A song held in memory, handed out in blocks like a synthesiser's.
class BufferSource final : public BlockSource {
public:
    explicit BufferSource(const Stereo& song)
        : song_(song) {}
    std::size_t render(float* left, float* right, std::size_t maxFrames) override {
        const std::size_t n = std::min(maxFrames, song_.left.size() - at_);
        std::copy_n(song_.left.begin() + long(at_), n, left);
        std::copy_n(song_.right.begin() + long(at_), n, right);
        at_ += n;
        return n;
    }
    bool finished() const override { return at_ == song_.left.size(); }
    int percent() const override { return finished() ? 100 : int(at_ * 99 / song_.left.size()); }

private:
    const Stereo& song_;
    std::size_t at_ = 0;
};

struct Levelled {
    double gainDb = 0;
    std::uint64_t framesChecked = 0;
    std::vector<std::int16_t> samples; // interleaved stereo
};

// The two passes as a render does them, dithered to 16 bits.
Levelled level(const Stereo& song, const std::filesystem::path& folder,
               std::optional<std::uint64_t> songFrames = {}) {
    BufferSource source(song);
    LevelledSource levelled(source, kRate, 2, std::make_unique<FloatIntermediate>(folder), {}, 95);
    if (songFrames)
        levelled.keepSong(*songFrames);
    DitherQuantizer quantizer(16);
    std::vector<float> left(1000), right(1000), interleaved(2000);
    std::vector<std::int16_t> block(2000);
    Levelled out;
    int percent = 0;
    while (!levelled.finished()) {
        const std::size_t n = levelled.render(left.data(), right.data(), 1000);
        EXPECT_GE(levelled.percent(), percent);
        percent = levelled.percent();
        for (std::size_t i = 0; i < n; ++i) {
            interleaved[2 * i] = left[i];
            interleaved[2 * i + 1] = right[i];
        }
        quantizer.quantize(interleaved.data(), 2 * n, 1.0f, block.data());
        out.samples.insert(out.samples.end(), block.begin(), block.begin() + 2 * long(n));
    }
    EXPECT_EQ(percent, 100);
    out.gainDb = levelled.gainDb();
    out.framesChecked = levelled.framesChecked();
    return out;
}

using Measured = levelprobe::Level;

Measured measure(const std::vector<float>& interleaved, int channels) {
    return levelprobe::measure(interleaved, channels, kRate);
}

Measured measure(const std::vector<std::int16_t>& samples) {
    std::vector<float> asFloat(samples.size());
    std::transform(samples.begin(), samples.end(), asFloat.begin(),
                   [](std::int16_t s) { return float(s) / 32768.0f; });
    return measure(asFloat, 2);
}

Measured measure(const Stereo& s) {
    std::vector<float> interleaved(2 * s.left.size());
    for (std::size_t i = 0; i < s.left.size(); ++i) {
        interleaved[2 * i] = s.left[i];
        interleaved[2 * i + 1] = s.right[i];
    }
    return measure(interleaved, 2);
}

double rmsDb(const std::vector<float>& samples) {
    double sum = 0;
    for (float s : samples)
        sum += double(s) * s;
    return 10 * std::log10(sum / double(samples.size()));
}

double rmsDb(const std::vector<std::int16_t>& samples) {
    double sum = 0;
    for (std::int16_t s : samples)
        sum += (s / 32768.0) * (s / 32768.0);
    return 10 * std::log10(sum / double(samples.size()));
}

enum class Binds { Loudness, Peak };

// Two seconds of a soft tone, then a tail that dies away by 6 dB every 50 ms; tailStart is where
// the tail begins.
Stereo toneWithTail(std::size_t& tailStart) {
    Stereo song = silence(2);
    addSine(song, 440, 0.01);
    tailStart = song.left.size();
    for (std::size_t i = 0; i < std::size_t(2 * kRate); ++i) {
        const double decay = std::pow(0.5, double(i) / (0.05 * kRate));
        const double v = 0.01 * decay * std::sin(2 * std::numbers::pi * 440 * double(i) / kRate);
        song.left.push_back(float(v));
        song.right.push_back(float(v));
    }
    return song;
}

} // namespace

TEST(LoudnessPass, BringsSongsOfEveryLevelToTheTargetOrThePeakCeiling) {
    rendertest::TempFolder folder;
    struct Case {
        const char* name;
        Stereo song;
        Binds binds;
    };
    const Case cases[] = {
        {"quiet piano line", pianoLine(0.05), Binds::Loudness},
        {"dense song beyond full scale", denseAndClipping(), Binds::Loudness},
        {"soft pad with loud clicks", padWithClicks(), Binds::Peak},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Measured before = measure(c.song);
        const Levelled out = level(c.song, folder.path());
        const Measured after = measure(out.samples);
        SCOPED_TRACE(testing::Message() << "before " << before.lufs << " LUFS, "
                                        << before.truePeakDbtp << " dBTP; after " << after.lufs
                                        << " LUFS, " << after.truePeakDbtp << " dBTP");
        EXPECT_LE(after.truePeakDbtp, -1.0 + 0.05);
        if (c.binds == Binds::Loudness) {
            EXPECT_NEAR(after.lufs, -16.0, 1.0);
        } else {
            EXPECT_NEAR(after.truePeakDbtp, -1.0, 0.1);
            EXPECT_LT(after.lufs, -17.0);
        }
        // One gain for the whole song: the loudness moved exactly as far as the gain says.
        EXPECT_NEAR(after.lufs - before.lufs, out.gainDb, 0.05);
        const auto [low, high] = std::minmax_element(out.samples.begin(), out.samples.end());
        EXPECT_GT(*low, -32768);
        EXPECT_LT(*high, 32767);
    }
    // The dense song really was beyond full scale: only a float intermediate could keep it.
    const Stereo dense = denseAndClipping();
    EXPECT_GT(*std::max_element(dense.left.begin(), dense.left.end()), 1.2f);
}

TEST(LoudnessPass, MeasuresTheTruePeakOnlyWhereItCanDecideTheGainAndGetsTheSameGain) {
    rendertest::TempFolder folder;
    // A tone at a quarter of the rate, sampled 45 degrees off its crests: peaks 3 dB above every
    // sample, and peaks decide its gain.
    Stereo between = silence(8);
    for (std::size_t i = 0; i < between.left.size(); ++i)
        between.left[i] = between.right[i] =
            float(0.4 * std::sin(std::numbers::pi * (0.5 * double(i) + 0.25)));
    // A quiet hum with one click at 0.5, and later twelve samples of 0.3 whose signs drive the
    // oversampler's half-sample phase to 1.864 times them: the song's true peak lies where its
    // samples are not the loudest, which only a check of that stretch finds.
    Stereo hidden = silence(8);
    addSine(hidden, 440, 0.003);
    hidden.left[2 * kRate] = hidden.right[2 * kRate] = 0.5f;
    const int signs[] = {-1, 1, -1, 1, -1, 1, 1, -1, 1, -1, 1, -1};
    for (std::size_t k = 0; k < 12; ++k)
        hidden.left[5 * kRate + k] = hidden.right[5 * kRate + k] = 0.3f * float(signs[k]);
    // A hundred such patterns, the last a little louder: more stretches to check than one thread
    // takes alone, and the one that decides among the second half of them.
    Stereo clicks = silence(8);
    addSine(clicks, 440, 0.003);
    for (std::size_t start = 2000; start + 3000 < clicks.left.size(); start += 3000)
        for (std::size_t k = 0; k < 12; ++k)
            clicks.left[start + k] = clicks.right[start + k] =
                (start + 6000 < clicks.left.size() ? 0.3f : 0.35f) * float(signs[k]);
    // A plain tone: its loudness decides, and no stretch needs checking at all.
    Stereo tone = silence(8);
    addSine(tone, 997, 0.05);

    const Measured hiddenFull = measure(hidden);
    EXPECT_GT(hiddenFull.truePeakDbtp, 20 * std::log10(0.5) + 0.8) << "the test has no teeth";
    struct Case {
        const char* name;
        const Stereo& song;
        double checkedAtMost; // share of the song read back
    };
    const Case cases[] = {{"between samples", between, 1.0},
                          {"hidden peak", hidden, 0.1},
                          {"many hidden peaks", clicks, 0.8},
                          {"plain tone", tone, 0.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Measured full = measure(c.song);
        const double expected = loudnessGainDb({full.lufs, full.truePeakDbtp});
        const Levelled out = level(c.song, folder.path());
        EXPECT_NEAR(out.gainDb, expected, 1e-9);
        EXPECT_LE(double(out.framesChecked), c.checkedAtMost * double(c.song.left.size()));
        EXPECT_LE(measure(out.samples).truePeakDbtp, -1.0 + 0.05);
    }
}

TEST(LoudnessPass, RaisesNearSilenceBy24DecibelsAtMostAndLeavesSilenceAlone) {
    rendertest::TempFolder folder;
    // -60 dBFS is measurable (about -63 LUFS); -90 dBFS is below the meter's gate of -70 LUFS.
    for (double dbfs : {-60.0, -90.0}) {
        SCOPED_TRACE(dbfs);
        Stereo song = silence(6);
        addSine(song, 1000, std::pow(10.0, dbfs / 20.0) * std::sqrt(2.0));
        const Levelled out = level(song, folder.path());
        const double raised = rmsDb(out.samples) - rmsDb(song.left);
        EXPECT_NEAR(raised, 24.0, 0.1);
    }
    const Levelled quiet = level(silence(3), folder.path());
    EXPECT_EQ(quiet.gainDb, 0.0);
    // Only the dither's own step remains.
    for (std::int16_t s : quiet.samples)
        ASSERT_LE(std::abs(s), 1);
}

TEST(LoudnessPass, TheTailEndsOnceItStaysBelowMinus90DecibelsAsHeardButTheSongIsKeptWhole) {
    rendertest::TempFolder folder;
    std::size_t tailStart = 0;
    const Stereo song = toneWithTail(tailStart);
    const Levelled out = level(song, folder.path(), tailStart);
    ASSERT_GT(out.gainDb, 10.0);
    const double floor = std::pow(10.0, (-90.0 - out.gainDb) / 20.0);
    std::size_t loudEnd = tailStart;
    for (std::size_t i = tailStart; i < song.left.size(); ++i)
        if (std::fabs(song.left[i]) >= floor)
            loudEnd = i + 1;
    EXPECT_EQ(out.samples.size() / 2, loudEnd + std::size_t(kRate / 10));
    // A song that ends in silence of its own keeps it.
    EXPECT_EQ(level(song, folder.path(), song.left.size() - 100).samples.size() / 2,
              song.left.size());
}

// A lossy file that missed is made again from the work file with another gain: every sample is
// the song's times the new gain, the tail ends where it dies away with that gain, and the work
// file stays until it is dropped.
TEST(LoudnessPass, HandsTheSongOutAgainWithAnotherGainForAnotherTake) {
    rendertest::TempFolder folder;
    std::size_t tailStart = 0;
    const Stereo song = toneWithTail(tailStart);
    BufferSource source(song);
    LevelledSource levelled(source, kRate, 2, std::make_unique<FloatIntermediate>(folder.path()),
                            {}, 95);
    levelled.keepSong(tailStart);
    levelled.keepForRetakes();
    const auto take = [&] {
        std::vector<float> left(1000), right(1000), all;
        while (!levelled.finished()) {
            const std::size_t n = levelled.render(left.data(), right.data(), 1000);
            all.insert(all.end(), left.begin(), left.begin() + long(n));
        }
        return all;
    };
    const std::vector<float> first = take();
    const double firstGain = levelled.gainDb();
    EXPECT_FALSE(fs::is_empty(folder.path())) << "the work file is kept for another take";
    levelled.relevel(firstGain - 10.0);
    const std::vector<float> second = take();
    EXPECT_EQ(levelled.gainDb(), firstGain - 10.0);
    const auto factor = float(dbToFactor(firstGain - 10.0));
    ASSERT_LT(second.size(), first.size()) << "10 dB quieter, the tail dies away sooner";
    std::size_t loudEnd = tailStart;
    for (std::size_t i = tailStart; i < song.left.size(); ++i)
        if (std::fabs(song.left[i]) >= std::pow(10.0, -90.0 / 20.0) / factor)
            loudEnd = i + 1;
    EXPECT_EQ(second.size(), loudEnd + std::size_t(kRate / 10));
    std::size_t differ = 0;
    for (std::size_t i = 0; i < second.size(); ++i)
        differ += second[i] != song.left[i] * factor;
    EXPECT_EQ(differ, 0u);
    levelled.dropWorkFile();
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

TEST(LoudnessPass, MonoOutputIsMeasuredAsItWillBeHeard) {
    // A centred song written as mono plays on both speakers as loud as in stereo, so it needs the
    // same gain; a plain one-channel measurement would make it 3 dB too loud.
    const Stereo song = pianoLine(0.05);
    LoudnessMeter stereo(kRate, 2), mono(kRate, 1);
    stereo.add(song.left.data(), song.left.data(), song.left.size());
    mono.add(song.left.data(), song.left.data(), song.left.size());
    EXPECT_NEAR(mono.result().integratedLufs, stereo.result().integratedLufs, 0.05);
    EXPECT_NEAR(loudnessGainDb(mono.result()), loudnessGainDb(stereo.result()), 0.05);
}

TEST(LoudnessPass, TheMeterAgreesWithLibebur128AtEveryRateAndThroughBothGates) {
    // The songs are made at 44.1 kHz and measured as if at other rates: filters and blocks follow.
    Stereo fading = pianoLine(0.3); // loud, then a passage the relative gate drops
    Stereo quiet = pianoLine(0.003);
    fading.left.insert(fading.left.end(), quiet.left.begin(), quiet.left.end());
    fading.right.insert(fading.right.end(), quiet.right.begin(), quiet.right.end());
    Stereo brief = silence(0.35); // shorter than one block
    addSine(brief, 997, 0.5);
    Stereo hush = silence(3); // below the absolute gate
    addSine(hush, 440, 0.0002);
    const struct {
        const char* name;
        int rate, channels;
        Stereo song;
    } cases[] = {{"piano", 44100, 2, pianoLine(0.05)},
                 {"dense", 48000, 2, denseAndClipping()},
                 {"clicks, mono", 22050, 1, padWithClicks()},
                 {"fading", 96000, 2, fading},
                 {"fading, mono", 8000, 1, fading},
                 {"brief", 44100, 2, brief},
                 {"hush", 44100, 2, hush}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoudnessMeter meter(c.rate, c.channels);
        std::vector<float> heard; // as the meter hears it, for libebur128
        for (std::size_t at = 0; at < c.song.left.size(); at += 777) {
            const std::size_t n = std::min<std::size_t>(777, c.song.left.size() - at);
            meter.add(c.song.left.data() + at, c.song.right.data() + at, n);
        }
        for (std::size_t i = 0; i < c.song.left.size(); ++i) {
            if (c.channels == 1)
                heard.push_back(0.5f * (c.song.left[i] + c.song.right[i]));
            else
                heard.insert(heard.end(), {c.song.left[i], c.song.right[i]});
        }
        const double expected = levelprobe::measure(heard, c.channels, c.rate).lufs;
        const double got = meter.result().integratedLufs;
        if (std::isinf(expected))
            EXPECT_EQ(got, expected);
        else
            EXPECT_NEAR(got, expected, 1e-4);
    }
}

TEST(LoudnessGain, SilenceAndUnmeasurableSongsFollowThePeakWithinTheLimit) {
    EXPECT_EQ(loudnessGainDb({-kInf, -kInf}), 0.0);
    EXPECT_EQ(loudnessGainDb({-kInf, std::nan("")}), 0.0);
    EXPECT_DOUBLE_EQ(loudnessGainDb({-kInf, -6.0}), 5.0);
    EXPECT_DOUBLE_EQ(loudnessGainDb({-kInf, -80.0}), 24.0);
    EXPECT_DOUBLE_EQ(loudnessGainDb({-20.0, -3.0}, {.lufs = -10.0}), 2.0);
    EXPECT_DOUBLE_EQ(loudnessGainDb({-20.0, -3.0}, {.lufs = -30.0}), -10.0);
}

TEST(FloatIntermediate, GivesBackEveryFrameExactlyInBlocksOfAnySize) {
    rendertest::TempFolder folder;
    std::vector<float> left(10007), right(10007);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> value(-3.0f, 3.0f);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = value(random);
        right[i] = value(random);
    }
    left[5] = 1e-40f; // denormal
    right[6] = -0.0f;
    std::filesystem::path kept;
    {
        FloatIntermediate store(folder.path());
        FloatIntermediate other(folder.path());
        EXPECT_NE(store.path(), other.path());
        kept = store.path();
        for (std::size_t at = 0, n = 1; at < left.size(); at += n, n = n * 3 % 4099 + 1) {
            n = std::min(n, left.size() - at);
            store.write(&left[at], &right[at], n);
        }
        EXPECT_EQ(store.frames(), left.size());
        for (int pass = 0; pass < 2; ++pass) {
            SCOPED_TRACE(pass);
            store.rewind();
            std::vector<float> l(left.size() + 10), r(left.size() + 10);
            std::size_t got = 0;
            for (std::size_t n; (n = store.read(&l[got], &r[got], 777)) > 0;)
                got += n;
            ASSERT_EQ(got, left.size());
            EXPECT_EQ(0, std::memcmp(l.data(), left.data(), left.size() * sizeof(float)));
            EXPECT_EQ(0, std::memcmp(r.data(), right.data(), right.size() * sizeof(float)));
        }
        EXPECT_TRUE(std::filesystem::exists(kept));
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}

TEST(FloatIntermediate, AFullDiskKeepsWhatDidNotFitAndSaysSoAndAMissingFolderIsNamed) {
    rendertest::TempFolder folder;
    std::vector<float> left(1 << 16);
    std::iota(left.begin(), left.end(), 0.0f);
    const std::vector<float> right(left.rbegin(), left.rend());
    FloatIntermediate store(folder.path(), 8 * left.size());
    {
        rendertest::FileSizeLimit limit(100003); // not even a whole frame at the end
        for (int i = 0; i < 8; ++i)
            store.write(left.data(), right.data(), left.size());
        store.rewind();
    }
    EXPECT_NE(store.roomProblem().find("writing " + store.path().string()), std::string::npos);
    ASSERT_EQ(store.frames(), 8 * left.size());
    std::vector<float> l(left.size()), r(right.size());
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(store.read(l.data(), r.data(), l.size()), l.size());
        EXPECT_EQ(l, left) << i;
        EXPECT_EQ(r, right) << i;
    }

    const std::filesystem::path missing = folder / "gone";
    try {
        FloatIntermediate nowhere(missing);
        ADD_FAILURE() << "created a file in a missing folder";
    } catch (const RenderError& e) {
        EXPECT_NE(std::string(e.what()).find(missing.string()), std::string::npos) << e.what();
    }
}
