// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The true peak of audio heard once, in order, in blocks of any size (a file as it is decoded):
// exactly what libebur128 gives for the whole, though its interpolator, which oversamples 4x
// and costs about three times what decoding an MP3 does, runs on a few percent of the frames.
//
// The audio is judged in stretches of kStretchFrames, with the same bound as the levelling
// pass's check (Loudness.h): a value libebur128 interpolates for a frame is at most
// truePeakBound() times the largest of the truePeakReach() frames up to it, which lie in its
// stretch or the one before. So a stretch whose sample peak and its predecessor's are both at
// most P / bound, P being the loudest sample heard so far, holds no value above P, and P is at
// most the whole's sample peak, which libebur128's true peak never falls below. Every other
// stretch is given to libebur128 as it comes, and its values are the ones the whole would give:
// its interpolator holds exactly the frames before the stretch, since it was either fed them or
// is given the truePeakReach() frames before it first, whose own values are not counted. The
// largest value found, or P where it is larger, is then the whole's true peak, to the bit.
//
// Why as it comes and not once the whole's sample peak is known: judged against the loudest
// sample so far, the three ten-minute songs of the lossy bench check 1.0 to 5.1% of their frames
// where the whole's peak would have checked 0.5 to 1.6%, and the difference costs about 0.07 s of
// processor time in ten minutes of audio. Waiting for the whole's peak would mean keeping those
// stretches (10 to 15 MB for ten minutes), decoding the file again (0.4 s for an MP3, 3 s for an
// Opus file), writing it decoded to the work folder (200 MB), or seeking each run of them, 1,800
// to 5,000 runs at 80 us a seek in an MP3 and 2.8 ms in an Opus file. A song that grows louder
// to its very end is checked nearly wholly, which costs what measuring it all did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillory::renderer {

class TruePeakScan {
public:
    static constexpr std::size_t kStretchFrames = 32;

    // Throws RenderError when libebur128 cannot be set up for the rate and channels.
    TruePeakScan(int sampleRate, int channels);
    ~TruePeakScan();
    TruePeakScan(const TruePeakScan&) = delete;
    TruePeakScan& operator=(const TruePeakScan&) = delete;

    // The next frames, interleaved. Throws RenderError when libebur128 runs out of memory.
    void add(const float* samples, std::size_t frames);
    // Judges the last frames, which do not fill a stretch; nothing can be added after.
    void finish();

    // Linear, 1.0 being full scale: the largest of the channels' true peaks, never below the
    // sample peak, as ebur128_true_peak gives them; of what was judged so far, all of it once
    // finished.
    double peak() const;
    double samplePeak() const { return samplePeak_; }
    // The frames judged, and of them those given to libebur128 (not counting what was given
    // before them to fill its interpolator).
    std::uint64_t frames() const { return frames_; }
    std::uint64_t framesChecked() const { return checked_; }

private:
    struct Meter; // libebur128's, which cannot be declared ahead
    void judge(bool all);
    void check(std::size_t at, std::size_t frames, std::uint64_t position);

    Meter* meter_;
    double bound_;
    std::size_t reach_;
    std::size_t channels_;
    // kMaxTruePeakReach frames already judged (silence before the first), then those waiting.
    std::vector<float> stage_;
    std::size_t staged_ = 0;   // frames waiting
    std::vector<float> peaks_; // of the stretches being judged
    float samplePeak_ = 0;
    float lastPeak_ = 0; // of the stretch judged last
    double truePeak_ = 0;
    std::uint64_t frames_ = 0;
    std::uint64_t checked_ = 0;
    // Where libebur128's interpolator stands: it holds the frames just before this one. A new
    // interpolator holds silence, as before the first frame.
    std::uint64_t fedTo_ = 0;
};

} // namespace quillory::renderer
