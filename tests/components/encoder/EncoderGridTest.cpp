// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Every combination the Options dialog can produce, at the rates a WAV commonly has: each must
// give an MP3 that an independent decoder reads with the expected rate, mode and bit rates, and
// whose length matches the source.
#include "components/encoder/Mp3FileEncoder.h"
#include "tests/components/encoder/Mp3Probe.h"
#include "tests/components/encoder/WavFixtures.h"

#include <gtest/gtest.h>
#include <mpg123.h>
#include <sndfile.h>

#include <QTemporaryDir>

#include <algorithm>
#include <tuple>

using namespace encoder;
namespace fs = std::filesystem;

namespace {

constexpr int kBitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

// The highest bit rate LAME writes at each rate of the grid.
int topBitRate(int rate) {
    return rate == 44100 ? 320 : (rate == 22050 ? 160 : 64);
}

int expectedMode(int channelMode, int sourceChannels) {
    if (sourceChannels == 1 || channelMode == 2)
        return MPG123_M_MONO;
    return channelMode == 0 ? MPG123_M_STEREO : (channelMode == 1 ? MPG123_M_JOINT : MPG123_M_DUAL);
}

struct Source {
    int rate;
    int channels;
    int bits;
};

class EncoderGrid : public ::testing::TestWithParam<std::tuple<int, int, int>> {
protected:
    void SetUp() override {
        source_ = {std::get<0>(GetParam()), std::get<1>(GetParam()), std::get<2>(GetParam())};
        wav_ = fs::path(dir_.path().toStdString()) / "source.wav";
        mp3_ = fs::path(dir_.path().toStdString()) / "cell.mp3";
        const int format =
            SF_FORMAT_WAV | (source_.bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
        frames_ = fixtures::writeWav(
            wav_, {.rate = source_.rate, .channels = source_.channels, .format = format});
    }

    // Encodes one cell and checks it against the bit-rate range its frames must stay in.
    void checkCell(const Mp3Settings& settings, int lowKbps, int highKbps) {
        SCOPED_TRACE(::testing::Message()
                     << "vbr " << settings.vbrMode << " bitrate " << settings.bitRateKbps
                     << " range " << settings.minBitRateKbps << "-" << settings.maxBitRateKbps
                     << " mode " << settings.channelMode);
        Mp3FileEncoder encoder;
        ASSERT_TRUE(encoder.open(wav_, mp3_, settings)) << encoder.error();
        while (encoder.encodeBlock() == Mp3FileEncoder::Step::More) {
        }
        ASSERT_TRUE(encoder.finish()) << encoder.error();

        const fixtures::Mp3Facts mp3 = fixtures::probeMp3(mp3_);
        ASSERT_TRUE(mp3.decoded) << mp3.error;
        EXPECT_EQ(mp3.rate, source_.rate);
        EXPECT_EQ(mp3.modes, std::set<int>{expectedMode(settings.channelMode, source_.channels)});
        EXPECT_GE(mp3.minKbps, lowKbps);
        EXPECT_LE(mp3.maxKbps, highKbps);
        EXPECT_TRUE(mp3.hasHeaderFrame);
        EXPECT_LE(std::abs(mp3.samples - frames_), fixtures::samplesPerFrame(mp3.rate));
        EXPECT_EQ(mp3.headerLength, frames_);
    }

    Source source_{};
    QTemporaryDir dir_;
    fs::path wav_;
    fs::path mp3_;
    std::int64_t frames_ = 0;
};

TEST_P(EncoderGrid, EveryBitRateAndModeGivesAValidMp3OfTheSourcesLength) {
    const int top = topBitRate(source_.rate);
    for (int kbps : kBitRates) {
        for (int channelMode = 0; channelMode < 4; ++channelMode) {
            Mp3Settings cbr{.vbrMode = 0, .bitRateKbps = kbps, .channelMode = channelMode};
            checkCell(cbr, std::min(kbps, top), std::min(kbps, top));

            Mp3Settings upTo{.vbrMode = 1,
                             .channelMode = channelMode,
                             .minBitRateKbps = 32,
                             .maxBitRateKbps = kbps};
            checkCell(upTo, 32, std::min(kbps, top));

            Mp3Settings from{.vbrMode = 1,
                             .channelMode = channelMode,
                             .minBitRateKbps = kbps,
                             .maxBitRateKbps = 320};
            checkCell(from, std::min(kbps, top), top);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RatesChannelsBits, EncoderGrid,
                         ::testing::Combine(::testing::Values(44100, 22050, 11025),
                                            ::testing::Values(1, 2), ::testing::Values(8, 16)),
                         [](const auto& info) {
                             return std::to_string(std::get<0>(info.param)) + "Hz_" +
                                    std::to_string(std::get<1>(info.param)) + "ch_" +
                                    std::to_string(std::get<2>(info.param)) + "bit";
                         });

} // namespace
