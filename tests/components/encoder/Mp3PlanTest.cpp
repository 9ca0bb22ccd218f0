// How the user's settings become what MPEG and LAME can write.
#include "components/encoder/Mp3Plan.h"

#include <gtest/gtest.h>

using namespace encoder;

TEST(Mp3Plan, KeepsMpegRatesAndResamplesOthersUpward) {
    const std::pair<int, int> cases[] = {
        {8000, 8000},    {11025, 11025}, {22050, 22050},  {44100, 44100}, {48000, 48000},
        {1000, 8000},    {11000, 11025}, {37800, 44100},  {96000, 48000}, {88200, 44100},
        {176400, 44100}, {64000, 48000}, {768000, 48000},
    };
    for (auto [source, mpeg] : cases)
        EXPECT_EQ(mpegSampleRate(source), mpeg) << source;
}

TEST(Mp3Plan, BitRatesFollowLamesTables) {
    EXPECT_EQ(bitRatesAt(44100),
              (std::vector<int>{32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}));
    EXPECT_EQ(bitRatesAt(22050).back(), 160);
    EXPECT_EQ(bitRatesAt(11025).back(), 64);
    EXPECT_EQ(bitRatesAt(8000).front(), 8);
}

TEST(Mp3Plan, TakesTheNearestBitRateTiesGoingUp) {
    struct Case {
        int kbps, rate, expected;
    } const cases[] = {
        {320, 22050, 160}, {320, 11025, 64},   {100, 44100, 96},
        {144, 44100, 160}, {136, 22050, 144},  {0, 44100, 32},
        {-5, 22050, 8},    {1000, 48000, 320}, {128, 44100, 128},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nearestBitRate(c.kbps, c.rate), c.expected) << c.kbps << " at " << c.rate;
}

TEST(Mp3Plan, MapsChannelModesAndKeepsMonoSourcesMono) {
    const std::pair<int, ChannelLayout> cases[] = {
        {0, ChannelLayout::Stereo},      {1, ChannelLayout::JointStereo},
        {2, ChannelLayout::Mono},        {3, ChannelLayout::DualChannel},
        {7, ChannelLayout::JointStereo}, {-1, ChannelLayout::JointStereo},
    };
    for (auto [mode, layout] : cases) {
        Mp3Settings settings;
        settings.channelMode = mode;
        EXPECT_EQ(planMp3(settings, 44100, 2).layout, layout) << mode;
        EXPECT_EQ(planMp3(settings, 44100, 1).layout, ChannelLayout::Mono) << mode;
    }
}

TEST(Mp3Plan, VariableRangeIsClampedAndOrdered) {
    Mp3Settings settings;
    settings.vbrMode = 1;
    settings.minBitRateKbps = 256;
    settings.maxBitRateKbps = 64;
    Mp3Plan plan = planMp3(settings, 44100, 2);
    EXPECT_TRUE(plan.variable);
    EXPECT_EQ(plan.minKbps, 64);
    EXPECT_EQ(plan.maxKbps, 256);

    settings.minBitRateKbps = 96;
    settings.maxBitRateKbps = 320;
    plan = planMp3(settings, 22050, 2);
    EXPECT_EQ(plan.minKbps, 96);
    EXPECT_EQ(plan.maxKbps, 160);

    settings.vbrMode = -1; // a 16-bit True
    EXPECT_TRUE(planMp3(settings, 44100, 2).variable);
}

TEST(Mp3Plan, PinsConstantRatesWhoseFramesCannotHoldTheHeader) {
    struct Case {
        int kbps, rate, channels;
        bool pinned;
    } const cases[] = {
        {32, 44100, 2, true},  {56, 44100, 2, true},  {64, 44100, 2, false},
        {48, 44100, 1, true},  {56, 44100, 1, false}, {48, 22050, 2, true},
        {56, 22050, 2, false}, {32, 11025, 2, false}, {128, 48000, 2, false},
    };
    for (const Case& c : cases) {
        Mp3Settings settings;
        settings.bitRateKbps = c.kbps;
        const Mp3Plan plan = planMp3(settings, c.rate, c.channels);
        EXPECT_EQ(plan.pinnedConstant, c.pinned) << c.kbps << " at " << c.rate;
        EXPECT_FALSE(plan.variable);
        EXPECT_EQ(plan.minKbps, c.kbps);
        EXPECT_EQ(plan.maxKbps, c.kbps);
    }
}
