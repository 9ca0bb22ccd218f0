// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// How a song that becomes a lossy file (MP3, Ogg Vorbis, Opus) is evened out, so that the file as
// decoded keeps the loudness promise: the target loudness (-16 LUFS) unless the true peak holds
// it down, a true peak at most at the ceiling (-1 dBTP), and within 0.5 dB of it where it holds
// the level down. What a codec gives back is not what it was given: decoded MP3s and Opus files
// peak up to about 0.6 dB above it, Vorbis files about 0.3 dB; LAME lowers the samples of
// constant bit rates up to 224 kb/s (by 0.45 dB up to 160 kb/s); the low-pass and the
// quantisation move the loudness by a tenth of a LU or so. None of it can be told beforehand
// closely enough for a window of 0.5 dB, so each take is decoded and measured (DecodedLoudness),
// and a take that misses is made again with its gain corrected by what was measured.
//
// The first take is levelled with the ceiling 0.5 dB lower, the middle of what codecs add, and
// with LAME's level change made up for, so that most songs need no second take; a song whose
// level its loudness sets needs none at all. A correction aims at the target loudness, or where
// the peak holds the level down, at 0.25 dB below the ceiling, the middle of the window. The
// decoded loudness follows the gain closely, the decoded peak mostly does, but not always: an MP3
// of a short drum hit peaked 1.3 dB higher for 0.7 dB more gain. So after two takes the peak's
// own rise per dB of gain is used, a gain between a take under the ceiling and one over it stays
// between them, and of all the takes the best is kept: one that keeps the promise, else one under
// the ceiling as close to the target as any, else the one that passes the ceiling least. Our own
// meter must find the peak 0.1 dB below the ceiling and the loudness within 0.2 LU of the target,
// so that meters that oversample otherwise (ffmpeg's, a player's) agree. At most five takes are
// made: a decoded peak need not rise with the gain (a real song's MP3 peaked 0.12 dB lower for
// 0.18 dB more gain), and its window under the ceiling is only 0.3 dB wide to our meter, so three
// were not always enough to land in it. The report says what the one kept holds.
//
// A mono MP3 is LAME's average of the two channels, and its first take is measured as that.
#pragma once

#include "components/encoder/Mp3Plan.h"
#include "components/levelling/Loudness.h"

#include <optional>

namespace encoder {
class Mp3Stream;
}

namespace quillory::renderer {

class LossyLevelling {
public:
    static constexpr int kMaxTakes = 5;
    static constexpr double kFirstTakeHeadroomDb = 0.5;
    static constexpr double kPeakMarginDb = 0.1;
    static constexpr double kLoudnessToleranceLu = 0.2;
    static constexpr double kHeldWindowDb = 0.5;
    static constexpr double kPeakAimDb = 0.25;

    // promise: what the decoded file must come to. encoderGainDb: a level change the encoder
    // applies before anyone hears the file (LAME's), which the first take makes up for.
    explicit LossyLevelling(const LoudnessTarget& promise, double encoderGainDb = 0);

    // The target the first take is levelled for, before it is encoded.
    LoudnessTarget firstTake() const;
    // Whether a take levelled with gainDb that measured `decoded` once decoded keeps the promise.
    bool keeps(double gainDb, const Loudness& decoded) const;
    // After a take levelled with gainDb that measured `decoded`: the gain of the next take, or
    // none when no other is made (this one keeps the promise, or it was the last).
    std::optional<double> retake(double gainDb, const Loudness& decoded);
    // Whether the take judged last is the best so far: its file is kept and the one kept before
    // it dropped; otherwise it is dropped itself. Once retake() says no more, the best is kept.
    bool lastIsBest() const { return bestIsLast_; }
    // What the best take so far measured as decoded, and its gain.
    const Loudness& bestDecoded() const { return best_.decoded; }
    double bestGainDb() const { return best_.gainDb; }
    // The takes judged so far.
    int takes() const { return takes_; }
    const LoudnessTarget& promise() const { return promise_; }

private:
    struct Take {
        double gainDb = 0;
        Loudness decoded;
    };
    double mostGainDb() const { return promise_.maxBoostDb - encoderGainDb_; }
    bool safe(const Loudness& decoded) const;
    bool better(const Take& a, const Take& b) const;
    double nextGainDb(const Take& take) const;

    LoudnessTarget promise_;
    double encoderGainDb_ = 0;
    int takes_ = 0;
    Take best_;
    bool bestIsLast_ = false;
    std::optional<Take> previous_;
    // The loudest take that was safe, and the quietest that was not.
    std::optional<double> safeGainDb_;
    std::optional<double> overGainDb_;
};

struct Mp3Levelling {
    LossyLevelling lossy;
    int channels = 2; // the MP3's, which the song is measured with
};

// For a song that stream (opened) encodes.
Mp3Levelling levellingForMp3(const LoudnessTarget& promise, const encoder::Mp3Stream& stream);
// For a song of sourceRate and sourceChannels that will be encoded with settings. Settings LAME
// refuses leave the target as it is: the encoding reports them.
Mp3Levelling levellingForMp3(const LoudnessTarget& promise, const encoder::Mp3Settings& settings,
                             int sourceRate, int sourceChannels);

} // namespace quillory::renderer
