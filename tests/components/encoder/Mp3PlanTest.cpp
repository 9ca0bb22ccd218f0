// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// How the user's settings become what MPEG and LAME can write, for the values the grid test
// does not reach: other source rates, bit rates off the lists, unknown codes.
#include "components/encoder/Mp3Plan.h"

#include <gtest/gtest.h>

#include <climits>

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

TEST(Mp3Plan, UnknownChannelModesGiveJointStereo) {
    for (int mode : {4, 7, -1}) {
        Mp3Settings settings;
        settings.channelMode = mode;
        EXPECT_EQ(planMp3(settings, 44100, 2).layout, ChannelLayout::JointStereo) << mode;
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
