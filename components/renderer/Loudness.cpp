#include "components/renderer/Loudness.h"

#include "components/renderer/WavWriter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace quillory::renderer {

struct LoudnessMeter::State {
    ebur128_state* meter = nullptr;
};

LoudnessMeter::LoudnessMeter(int sampleRate, int channels)
    : channels_(channels) {
    if (sampleRate <= 0 || (channels != 1 && channels != 2))
        throw RenderError("the loudness meter cannot measure " + std::to_string(channels) +
                          " channels at " + std::to_string(sampleRate) + " Hz");
    ebur128_state* meter = ebur128_init(unsigned(channels), static_cast<unsigned long>(sampleRate),
                                        EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (!meter)
        throw RenderError("the loudness meter could not be set up (out of memory)");
    if (channels == 1)
        ebur128_set_channel(meter, 0, EBUR128_DUAL_MONO);
    state_ = new State{meter};
}

LoudnessMeter::~LoudnessMeter() {
    ebur128_destroy(&state_->meter);
    delete state_;
}

void LoudnessMeter::add(const float* left, const float* right, std::size_t frames) {
    scratch_.resize(frames * std::size_t(channels_));
    if (channels_ == 2) {
        for (std::size_t i = 0; i < frames; ++i) {
            scratch_[2 * i] = left[i];
            scratch_[2 * i + 1] = right[i];
        }
    } else {
        for (std::size_t i = 0; i < frames; ++i)
            scratch_[i] = 0.5f * (left[i] + right[i]);
    }
    if (ebur128_add_frames_float(state_->meter, scratch_.data(), frames) != EBUR128_SUCCESS)
        throw RenderError("the loudness meter ran out of memory");
}

Loudness LoudnessMeter::result() const {
    Loudness result;
    double lufs = 0;
    if (ebur128_loudness_global(state_->meter, &lufs) == EBUR128_SUCCESS)
        result.integratedLufs = lufs;
    double peak = 0;
    for (int channel = 0; channel < channels_; ++channel) {
        double channelPeak = 0;
        if (ebur128_true_peak(state_->meter, unsigned(channel), &channelPeak) == EBUR128_SUCCESS)
            peak = std::max(peak, channelPeak);
    }
    result.truePeakDbtp = 20.0 * std::log10(peak);
    return result;
}

double loudnessGainDb(const Loudness& measured, const LoudnessTarget& target) {
    if (!std::isfinite(measured.truePeakDbtp))
        return 0.0;
    double gain = std::min(target.maxBoostDb, target.ceilingDbtp - measured.truePeakDbtp);
    if (std::isfinite(measured.integratedLufs))
        gain = std::min(gain, target.lufs - measured.integratedLufs);
    return gain;
}

double dbToFactor(double db) {
    return std::pow(10.0, db / 20.0);
}

} // namespace quillory::renderer
