// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What an MP3 will actually be made of, given the user's five encoder settings and the source's
// rate and channels. MPEG only defines some sample rates and, at each rate, some bit rates; this
// is where a request that MPEG (or LAME) cannot honour literally becomes one it can:
//   - the source's sample rate is kept when MPEG defines it; any other rate is resampled to the
//     smallest MPEG rate at or above it (at most 48000 Hz; above that 44100 Hz when it divides
//     the source rate evenly);
//   - a bit rate not defined at that rate becomes the nearest one that is (ties go up): at 22050 Hz
//     320 kb/s becomes 160, at 11025 Hz it becomes 64, the top of LAME's MPEG-2.5 table;
//   - a mono source always gives a mono MP3;
//   - constant bit rates whose frames are too small to hold the Xing/LAME header (for example
//     32-56 kb/s at 44100 Hz) are encoded by pinning LAME's variable-bit-rate coder to that one
//     rate: every audio frame still has the chosen bit rate, and LAME then puts the header in a
//     frame of its own size, so players still learn the exact length.
#pragma once

namespace encoder {

// The encoder settings as the program stores them; values outside the listed codes are tolerated.
struct Mp3Settings {
    int vbrMode = 0; // 0 constant bit rate; any other value variable bit rate
    int bitRateKbps = 128;
    int channelMode = 0; // 0 stereo, 1 joint stereo, 2 mono, 3 dual channel; others joint stereo
    int minBitRateKbps = 32;
    int maxBitRateKbps = 320;
};

enum class ChannelLayout { Stereo, JointStereo, Mono, DualChannel };

struct Mp3Plan {
    int sampleRate = 0; // of the MP3; differs from the source only when MPEG lacks the source's
    ChannelLayout layout = ChannelLayout::JointStereo;
    bool variable = false; // variable bit rate between minKbps and maxKbps
    int minKbps = 0;       // for constant bit rate, minKbps == maxKbps == the bit rate
    int maxKbps = 0;
    // Constant bit rate done by LAME's variable coder held at one rate (see above).
    bool pinnedConstant = false;

    int outputChannels() const { return layout == ChannelLayout::Mono ? 1 : 2; }
};

// The MPEG sample rate an MP3 of a source at sourceRate is written at.
int mpegSampleRate(int sourceRate);
// The bit rate LAME can write at an MPEG sample rate that is nearest to kbps, ties going up.
int nearestBitRate(int kbps, int mpegRate);

Mp3Plan planMp3(const Mp3Settings& settings, int sourceRate, int sourceChannels);

} // namespace encoder
