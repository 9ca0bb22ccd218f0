// Even loudness for rendered songs. While a song is synthesised, LoudnessMeter measures what will
// be written (integrated loudness after ITU-R BS.1770 / EBU R128, and true peak) through
// libebur128, the reference meter; loudnessGainDb then gives the one gain for the whole song that
// brings it to the target without letting its true peak pass the ceiling. No compression, no
// limiter: the song's dynamics stay as the synthesiser made them.
#pragma once

#include <cstddef>
#include <limits>
#include <vector>

namespace quillory::renderer {

struct Loudness {
    // Integrated loudness in LUFS; -infinity when nothing passed the meter's absolute gate of
    // -70 LUFS (silence, near-silence, or a song shorter than one 400 ms gating block).
    double integratedLufs = -std::numeric_limits<double>::infinity();
    // The highest true peak of the channels in dBTP (0 dBTP is full scale); -infinity for
    // digital silence.
    double truePeakDbtp = -std::numeric_limits<double>::infinity();
};

class LoudnessMeter {
public:
    // For output with the given rate and channel count. Mono output is the average of left and
    // right, as the WAV writer makes it, measured as dual mono: played on two speakers it is as
    // loud as the stereo song. Throws RenderError when the meter cannot be set up.
    LoudnessMeter(int sampleRate, int channels);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Measures the next frames of the song. Throws RenderError when the meter runs out of memory.
    void add(const float* left, const float* right, std::size_t frames);
    // The song so far.
    Loudness result() const;

private:
    struct State; // libebur128's, which cannot be declared ahead
    State* state_ = nullptr;
    int channels_ = 2;
    std::vector<float> scratch_;
};

struct LoudnessTarget {
    double lufs = -16.0;
    double ceilingDbtp = -1.0;
    // Near-silence is never raised further than this.
    double maxBoostDb = 24.0;
};

// The gain in dB that brings a song measured as `measured` to target.lufs, lowered as far as
// the true peak must stay at or below target.ceilingDbtp, and never above target.maxBoostDb.
// When the meter found no loudness (see Loudness) the true peak alone decides, within the same
// limit. Digital silence, or a peak that is not a number, gets 0 dB.
double loudnessGainDb(const Loudness& measured, const LoudnessTarget& target = {});

// A level in dB as a factor on the samples.
double dbToFactor(double db);

} // namespace quillory::renderer
