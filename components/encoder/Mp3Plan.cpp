// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/encoder/Mp3Plan.h"

#include <lame/lame.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>
#include <vector>

namespace encoder {

namespace {

// LAME's numbering of the MPEG versions in lame_get_samplerate / lame_get_bitrate.
constexpr int kMpeg2 = 0;
constexpr int kMpeg1 = 1;
constexpr int kMpeg25 = 2;

int mpegVersion(int mpegRate) {
    for (int version : {kMpeg1, kMpeg2, kMpeg25})
        for (int i = 0; i < 3; ++i)
            if (lame_get_samplerate(version, i) == mpegRate)
                return version;
    return kMpeg1;
}

ChannelLayout layoutFor(int channelMode, int sourceChannels) {
    if (sourceChannels < 2)
        return ChannelLayout::Mono;
    switch (channelMode) {
    case 0:
        return ChannelLayout::Stereo;
    case 2:
        return ChannelLayout::Mono;
    case 3:
        return ChannelLayout::DualChannel;
    default:
        return ChannelLayout::JointStereo;
    }
}

// The bit rates LAME can write at an MPEG sample rate, ascending.
std::vector<int> bitRatesAt(int mpegRate) {
    const int version = mpegVersion(mpegRate);
    std::vector<int> rates;
    for (int i = 1; i < 16; ++i) {
        const int kbps = lame_get_bitrate(version, i);
        if (kbps > 0)
            rates.push_back(kbps);
    }
    return rates;
}

bool headerFitsFrame(int kbps, int mpegRate, int outputChannels) {
    // The size test LAME applies before it writes its header: one frame must hold the frame
    // header, the side information and 156 bytes of Xing and LAME fields.
    const bool mpeg1 = mpegVersion(mpegRate) == kMpeg1;
    const int sideInfo = mpeg1 ? (outputChannels == 1 ? 17 : 32) : (outputChannels == 1 ? 9 : 17);
    const int frameBytes = (mpeg1 ? 144000 : 72000) * kbps / mpegRate;
    return frameBytes >= 4 + sideInfo + 156;
}

} // namespace

int mpegSampleRate(int sourceRate) {
    constexpr std::array rates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    if (sourceRate > 48000)
        return sourceRate % 44100 == 0 ? 44100 : 48000;
    for (int rate : rates)
        if (rate >= sourceRate)
            return rate;
    return 48000;
}

int nearestBitRate(int kbps, int mpegRate) {
    const std::vector<int> rates = bitRatesAt(mpegRate);
    int best = rates.front();
    // In 64 bits: the settings file may hold any 32-bit value.
    const auto distance = [kbps](int rate) {
        return std::llabs(static_cast<long long>(rate) - kbps);
    };
    for (int rate : rates)
        if (distance(rate) <= distance(best))
            best = rate;
    return best;
}

Mp3Plan planMp3(const Mp3Settings& settings, int sourceRate, int sourceChannels) {
    Mp3Plan plan;
    plan.sampleRate = mpegSampleRate(sourceRate);
    plan.layout = layoutFor(settings.channelMode, sourceChannels);
    plan.variable = settings.vbrMode != 0;
    if (plan.variable) {
        plan.minKbps = nearestBitRate(settings.minBitRateKbps, plan.sampleRate);
        plan.maxKbps = nearestBitRate(settings.maxBitRateKbps, plan.sampleRate);
        if (plan.minKbps > plan.maxKbps)
            std::swap(plan.minKbps, plan.maxKbps);
    } else {
        plan.minKbps = plan.maxKbps = nearestBitRate(settings.bitRateKbps, plan.sampleRate);
        plan.pinnedConstant =
            !headerFitsFrame(plan.minKbps, plan.sampleRate, plan.outputChannels());
    }
    return plan;
}

} // namespace encoder
