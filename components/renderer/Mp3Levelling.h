// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// How a song that becomes an MP3 is evened out, so that the MP3 as decoded keeps the loudness
// promise (-16 LUFS unless the peak holds it down, true peak at most -1 dBTP). The song is judged
// as LAME will pass it on, which differs from the levelled samples in three ways; each was
// measured on the planetblupi songs rendered with FluidR3, encoded, decoded and metered:
//   - LAME lowers the samples by a fixed factor at constant bit rates up to 224 kb/s (0.95 up to
//     160 kb/s, 0.45 dB), which alone leaves such MP3s 0.45 LU short. The gain makes up for it
//     (LoudnessTarget::encoderGainDb), exactly, as LAME reports it.
//   - Encoding moves peaks: decoded MP3s peak up to 0.6 dB above what LAME encoded. So the
//     ceiling for what LAME encodes is -2 dBTP, the cautious end of the -1 to -2 dBTP that is
//     current practice before lossy encoding; songs that reach -16 LUFS below it lose nothing.
//   - LAME's low-pass (17 kHz at 128 kb/s, 11 kHz at 64 kb/s) and its quantisation move the
//     loudness by less than 0.1 LU: General MIDI music has little energy that high, and the
//     K-weighting does not favour it. They are left out of the measurement.
// A mono MP3 is LAME's average of the two channels, and is measured as that.
#pragma once

#include "components/encoder/Mp3Plan.h"
#include "components/levelling/Loudness.h"

namespace encoder {
class Mp3Stream;
}

namespace quillory::renderer {

inline constexpr double kMp3CeilingDbtp = -2.0;

struct Mp3Levelling {
    LoudnessTarget target; // with the MP3's ceiling and LAME's level change
    int channels = 2;      // the MP3's, which the song is measured with
};

// For a song that stream (opened) encodes.
Mp3Levelling levellingForMp3(const LoudnessTarget& target, const encoder::Mp3Stream& stream);
// For a song of sourceRate and sourceChannels that will be encoded with settings. Settings LAME
// refuses leave the target as it is: the encoding reports them.
Mp3Levelling levellingForMp3(const LoudnessTarget& target, const encoder::Mp3Settings& settings,
                             int sourceRate, int sourceChannels);

} // namespace quillory::renderer
