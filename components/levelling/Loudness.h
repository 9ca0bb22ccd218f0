// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Even loudness for rendered songs. While a song is synthesised, LoudnessMeter measures what will
// be written (integrated loudness after ITU-R BS.1770 / EBU R128, see GatedLoudness; the true
// peak through libebur128, the reference meter); loudnessGainDb then gives the one gain for the
// whole song that brings it to the target without letting its true peak pass the ceiling. No
// compression, no limiter: the song's dynamics stay as the synthesiser made them.
//
// The true peak is the expensive part of the meter (libebur128 oversamples 4x to find it, more
// than half of the meter's time), and for most songs it cannot change the gain at all. So the
// first pass keeps only the sample peak of every stretch of 512 frames, and afterwards only the
// stretches whose true peak could decide the gain are read back and measured with libebur128
// (stretchesToCheck, then beginCheck/check/endCheck for each). Why that gives exactly the gain
// a full true-peak measurement would give:
//   - libebur128 interpolates with a polyphase FIR (49 taps, Hann-windowed sinc; 4 phases below
//     96 kHz, 2 below 192 kHz, none above). Phase 0 reproduces the input samples, and the other
//     phases' coefficients add up in magnitude to at most 1.8642 (4x) or 2.3069 (2x): every
//     interpolated value is at most G times the largest input within the filter's reach, the last
//     13 (4x) or 25 (2x) samples, which lie in its own stretch or the one before.
//   - So the song's true peak TP is at least its sample peak P, and a stretch s whose peak and
//     its predecessor's peak are both at most theta / G holds no interpolated value above theta.
//   - The gain depends on TP only where the ceiling binds, that is for TP above T, the peak at
//     which ceiling - T equals the gain loudness alone asks for. With theta = max(P, T), every
//     stretch that could hold an interpolated value above theta is measured, each from the start
//     of the stretch before it (which is either measured itself or holds nothing above theta, so
//     the interpolator's start from silence adds nothing above theta there). Then either the
//     measured maximum is the true peak, or both it and the true peak are at most theta, where
//     either they equal P or neither lets the ceiling bind: the gain is the same.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace quillory::renderer {

struct Loudness {
    // Integrated loudness in LUFS; -infinity when nothing passed the meter's absolute gate of
    // -70 LUFS (silence, near-silence, or a song shorter than one 400 ms gating block).
    double integratedLufs = -std::numeric_limits<double>::infinity();
    // The highest true peak of the channels in dBTP (0 dBTP is full scale) as far as it was
    // measured (see above); -infinity for digital silence.
    double truePeakDbtp = -std::numeric_limits<double>::infinity();
};

// What a levelled song must come to as it is heard. The loudness, the ceiling and the boost are
// judged after encoderGainDb, a level change that an encoder applies to the levelled song before
// anyone hears it (LAME lowers some constant bit rates by up to 0.45 dB); the gain makes up for
// it.
struct LoudnessTarget {
    double lufs = -16.0;
    double ceilingDbtp = -1.0;
    // Near-silence is never raised further than this.
    double maxBoostDb = 24.0;
    double encoderGainDb = 0.0;
};

// Frames [begin, end) of a song.
struct FrameRange {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool operator==(const FrameRange&) const = default;
};

// The true peak of stretches read back for the check (see above), with libebur128: each measured
// from its first frame, in any blocks. A stretch's peak counts once it has ended. One per thread:
// the stretches of one song may be shared out between several.
class TruePeakCheck {
public:
    // Mono is measured as dual mono, like the meter does.
    TruePeakCheck(int sampleRate, int channels);
    ~TruePeakCheck();
    TruePeakCheck(const TruePeakCheck&) = delete;
    TruePeakCheck& operator=(const TruePeakCheck&) = delete;

    void begin();
    // samples: interleaved stereo, or the mono mix for a mono song. Throws RenderError when the
    // meter runs out of memory.
    void add(const float* samples, std::size_t frames);
    // The same for interleaved stereo, mixed down here for a mono song.
    void addStereo(const float* stereo, std::size_t frames);
    void end();
    // The largest linear true peak of the stretches ended.
    double peak() const { return peak_; }

private:
    struct Meter; // libebur128's, which cannot be declared ahead
    Meter* meter_ = nullptr;
    int sampleRate_ = 0;
    int channels_ = 2;
    double peak_ = 0;
    std::vector<float> mono_;
};

class LoudnessMeter {
public:
    static constexpr std::size_t kStretchFrames = 512;

    // For output with the given rate and channel count. Mono output is the average of left and
    // right, as the sound writer makes it, measured as dual mono: played on two speakers it is as
    // loud as the stereo song. Throws RenderError when the meter cannot be set up.
    LoudnessMeter(int sampleRate, int channels);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Measures the next frames of the song. Throws RenderError when the meter runs out of memory.
    void add(const float* left, const float* right, std::size_t frames);
    // The same for frames given as interleaved stereo.
    void addInterleaved(const float* stereo, std::size_t frames);
    std::uint64_t frames() const { return frames_; }

    // The stretches of the song measured so far whose true peak could change
    // loudnessGainDb(result(), target), each with the stretch before it as context; in order,
    // apart, and empty when the sample peaks settle it.
    std::vector<FrameRange> stretchesToCheck(const LoudnessTarget& target) const;
    // Measures the true peak of one such stretch: its frames, from its first, in any blocks.
    void beginCheck();
    void check(const float* left, const float* right, std::size_t frames);
    void endCheck();
    // The true peak that another thread's TruePeakCheck found in the other stretches.
    void addCheckedPeak(double linear) { otherPeak_ = std::max(otherPeak_, linear); }

    // The song so far, with the true peak of the stretches checked (and the sample peak).
    Loudness result() const;

private:
    struct State; // holds libebur128's, which cannot be declared ahead
    const std::vector<float>& downmix(const float* left, const float* right, std::size_t frames);
    void measure(const float* samples, std::size_t frames);
    void measureLoudness(const float* samples, std::size_t frames);

    State* state_ = nullptr;
    int sampleRate_ = 0;
    int channels_ = 2;
    std::uint64_t frames_ = 0;
    std::vector<float> stretchPeaks_; // sample peak of each kStretchFrames of the song
    TruePeakCheck check_;
    double otherPeak_ = 0; // linear true peak of the stretches checked on other threads
    std::vector<float> scratch_;
    std::vector<float> pairs_; // mono as (m, m)
};

// The gain in dB that brings a song measured as `measured` to target.lufs, lowered as far as
// the true peak must stay at or below target.ceilingDbtp, and never above target.maxBoostDb,
// all as heard after target.encoderGainDb, which the gain makes up for. When the meter found no
// loudness (see Loudness) the true peak alone decides, within the same limit. Digital silence,
// or a peak that is not a number, gets 0 dB.
double loudnessGainDb(const Loudness& measured, const LoudnessTarget& target = {});

// A level in dB as a factor on the samples.
double dbToFactor(double db);

// libebur128's true-peak interpolator at a rate (see above): how far above the largest input
// sample within its reach an interpolated value can go (1 where it does not interpolate), and
// that reach, the frames its delay line holds: the frame a value is computed for and those before
// it, 13 or 25 (1 where it does not interpolate), at most kMaxTruePeakReach.
double truePeakBound(int sampleRate);
std::size_t truePeakReach(int sampleRate);
constexpr std::size_t kMaxTruePeakReach = 25;

} // namespace quillory::renderer
