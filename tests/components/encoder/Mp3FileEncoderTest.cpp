// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The encoding engine on real files: every sample format it accepts, sanitised float input,
// resampled rates, and the guarantee that an unfinished MP3 never stays behind.
#include "components/encoder/Mp3FileEncoder.h"
#include "tests/components/encoder/Mp3Probe.h"
#include "tests/components/encoder/WavFixtures.h"

#include <gtest/gtest.h>
#include <mpg123.h>
#include <sndfile.h>

#include <QTemporaryDir>

#include <cmath>

using namespace encoder;
namespace fs = std::filesystem;

namespace {

class Mp3FileEncoderTest : public ::testing::Test {
protected:
    fs::path path(const char* name) const { return fs::path(dir_.path().toStdString()) / name; }

    // Runs the block loop to the end; the error text when anything fails.
    static std::string encodeAll(Mp3FileEncoder& encoder) {
        Mp3FileEncoder::Step step = Mp3FileEncoder::Step::More;
        while (step == Mp3FileEncoder::Step::More)
            step = encoder.encodeBlock(4096);
        if (step == Mp3FileEncoder::Step::Failed || !encoder.finish())
            return encoder.error().empty() ? "failed without a message" : encoder.error();
        return {};
    }

    std::string encodeFile(const fs::path& wav, const fs::path& mp3, const Mp3Settings& settings) {
        Mp3FileEncoder encoder;
        if (!encoder.open(wav, mp3, settings))
            return encoder.error();
        return encodeAll(encoder);
    }

    QTemporaryDir dir_;
};

TEST_F(Mp3FileEncoderTest, EncodesEverySampleFormatItAccepts) {
    const int formats[] = {
        SF_FORMAT_WAV | SF_FORMAT_PCM_U8,   SF_FORMAT_WAV | SF_FORMAT_PCM_16,
        SF_FORMAT_WAV | SF_FORMAT_PCM_24,   SF_FORMAT_WAV | SF_FORMAT_PCM_32,
        SF_FORMAT_WAV | SF_FORMAT_FLOAT,    SF_FORMAT_WAV | SF_FORMAT_DOUBLE,
        SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, SF_FORMAT_RF64 | SF_FORMAT_PCM_24,
    };
    for (int format : formats) {
        for (int channels : {1, 2}) {
            const fs::path wav = path("in.wav");
            const std::int64_t frames =
                fixtures::writeWav(wav, {.rate = 32000, .channels = channels, .format = format});
            ASSERT_EQ(encodeFile(wav, path("out.mp3"), {}), "") << std::hex << format;
            const fixtures::Mp3Facts mp3 = fixtures::probeMp3(path("out.mp3"));
            EXPECT_TRUE(mp3.decoded) << mp3.error;
            EXPECT_EQ(mp3.samples, frames) << std::hex << format;
            EXPECT_EQ(mp3.channels, channels);
        }
    }
}

TEST_F(Mp3FileEncoderTest, NanBecomesSilenceAndLoudFloatsAreClipped) {
    const int rate = 44100;
    std::vector<float> samples(rate); // one second of mono
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float tone = 8.0f * float(std::sin(2 * M_PI * 440.0 * double(i) / rate));
        if (i < samples.size() / 2)
            samples[i] = i % 3 == 0 ? std::nanf("") : (i % 3 == 1 ? INFINITY : -INFINITY);
        else
            samples[i] = tone;
    }
    fixtures::writeFloatWav(path("loud.wav"), rate, 1, samples);
    ASSERT_EQ(encodeFile(path("loud.wav"), path("loud.mp3"), {}), "");

    const fixtures::Mp3Facts mp3 = fixtures::probeMp3(path("loud.mp3"), true);
    ASSERT_TRUE(mp3.decoded) << mp3.error;
    float peak = 0;
    for (float x : mp3.audio) {
        ASSERT_TRUE(std::isfinite(x));
        peak = std::max(peak, std::fabs(x));
    }
    // A tone clipped at ±1 comes back near full scale; unclipped it would come back near 8.
    EXPECT_GT(peak, 0.8f);
    EXPECT_LT(peak, 1.3f);
}

TEST_F(Mp3FileEncoderTest, ResampledRatesKeepTheirLength) {
    struct Case {
        int rate, mpegRate;
    } const cases[] = {{1000, 8000}, {37800, 44100}, {96000, 48000}, {768000, 48000}};
    for (const Case& c : cases) {
        const std::int64_t frames =
            fixtures::writeWav(path("in.wav"), {.rate = c.rate, .channels = 2, .seconds = 0.5});
        ASSERT_EQ(encodeFile(path("in.wav"), path("out.mp3"), {}), "") << c.rate;
        const fixtures::Mp3Facts mp3 = fixtures::probeMp3(path("out.mp3"));
        ASSERT_TRUE(mp3.decoded) << mp3.error;
        EXPECT_EQ(mp3.rate, c.mpegRate);
        const double expected = double(frames) * c.mpegRate / c.rate;
        EXPECT_NEAR(double(mp3.samples), expected, fixtures::samplesPerFrame(mp3.rate)) << c.rate;
    }
}

TEST_F(Mp3FileEncoderTest, CountsFramesBlockByBlock) {
    const std::int64_t frames = fixtures::writeWav(path("in.wav"), {.seconds = 0.5});
    Mp3FileEncoder encoder;
    ASSERT_TRUE(encoder.open(path("in.wav"), path("out.mp3"), {}));
    EXPECT_EQ(encoder.totalFrames(), frames);
    EXPECT_EQ(encoder.encodeBlock(1000), Mp3FileEncoder::Step::More);
    EXPECT_EQ(encoder.framesDone(), 1000);
    EXPECT_EQ(encoder.encodeBlock(frames), Mp3FileEncoder::Step::End);
    EXPECT_EQ(encoder.framesDone(), frames);
    EXPECT_TRUE(encoder.finish()) << encoder.error();
    EXPECT_EQ(fixtures::probeMp3(path("out.mp3")).samples, frames);
}

TEST_F(Mp3FileEncoderTest, TheTargetChangesOnlyWhenTheMp3IsFinishedAndThenStays) {
    fixtures::writeWav(path("in.wav"), {.seconds = 0.5});
    fixtures::writeBytes(path("old.mp3"), {'o', 'l', 'd'});
    for (bool abandon : {true, false}) {
        Mp3FileEncoder encoder;
        ASSERT_TRUE(encoder.open(path("in.wav"), path("new.mp3"), {}));
        encoder.encodeBlock(4096);
        EXPECT_FALSE(fs::exists(path("new.mp3")));
        if (abandon)
            encoder.abandon(); // else dropped unfinished
    }
    EXPECT_FALSE(fs::exists(path("new.mp3")));
    {
        Mp3FileEncoder encoder;
        ASSERT_TRUE(encoder.open(path("in.wav"), path("old.mp3"), {}));
        encoder.encodeBlock(4096);
        EXPECT_EQ(fs::file_size(path("old.mp3")), 3u) << "replaced before it was finished";
        ASSERT_EQ(encodeAll(encoder), "");
        encoder.abandon();
    }
    EXPECT_TRUE(fixtures::probeMp3(path("old.mp3")).decoded);
    EXPECT_EQ(std::distance(fs::directory_iterator(path("")), {}), 2) << "a partial MP3 left";
}

TEST_F(Mp3FileEncoderTest, NeverWritesOverItsSourceOrRemovesADevice) {
    fixtures::writeWav(path("in.wav"), {});
    const auto size = fs::file_size(path("in.wav"));
    Mp3FileEncoder self;
    EXPECT_FALSE(self.open(path("in.wav"), path("in.wav"), {}));
    EXPECT_NE(self.error().find("its own source"), std::string::npos) << self.error();
    EXPECT_EQ(fs::file_size(path("in.wav")), size);

    // Through a link, so that a regression would remove the link and not the device itself.
    fs::create_symlink("/dev/null", path("null.mp3"));
    for (bool finish : {false, true}) {
        Mp3FileEncoder toNull;
        ASSERT_TRUE(toNull.open(path("in.wav"), path("null.mp3"), {}));
        toNull.encodeBlock(4096);
        if (finish)
            encodeAll(toNull);
        toNull.abandon();
    }
    EXPECT_TRUE(fs::is_symlink(path("null.mp3")));
}

TEST_F(Mp3FileEncoderTest, ZeroFramesGiveAnEmptyButValidMp3) {
    fixtures::writeWav(path("empty.wav"), {.seconds = 0});
    ASSERT_EQ(encodeFile(path("empty.wav"), path("empty.mp3"), {}), "");
    const fixtures::Mp3Facts mp3 = fixtures::probeMp3(path("empty.mp3"));
    EXPECT_TRUE(mp3.decoded) << mp3.error;
    EXPECT_EQ(mp3.samples, 0);
}

} // namespace
