// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/encoder/Resampler.h"

#include <samplerate.h>

#include <cmath>
#include <stdexcept>
#include <string>

namespace encoder {

Resampler::Resampler(int channels, int fromRate, int toRate)
    : channels_(channels)
    , ratio_(double(toRate) / double(fromRate)) {
    int error = 0;
    state_ = src_new(SRC_SINC_BEST_QUALITY, channels, &error);
    if (!state_)
        throw std::runtime_error(std::string("the sample rate cannot be converted (") +
                                 src_strerror(error) + ")");
}

Resampler::~Resampler() {
    src_delete(state_);
}

const std::vector<float>& Resampler::convert(const float* in, std::size_t frames, bool last) {
    out_.clear();
    std::vector<float> piece(std::size_t(std::ceil(double(frames) * ratio_) + 1024) *
                             std::size_t(channels_));
    SRC_DATA data{};
    data.data_in = in;
    data.input_frames = long(frames);
    data.src_ratio = ratio_;
    data.end_of_input = last;
    // The converter may hold input back: the last call is repeated until nothing comes out.
    for (;;) {
        data.data_out = piece.data();
        data.output_frames = long(piece.size()) / channels_;
        if (const int error = src_process(state_, &data); error != 0)
            throw std::runtime_error(std::string("the sample rate cannot be converted (") +
                                     src_strerror(error) + ")");
        out_.insert(out_.end(), piece.begin(), piece.begin() + data.output_frames_gen * channels_);
        data.data_in += data.input_frames_used * channels_;
        data.input_frames -= data.input_frames_used;
        if (data.input_frames == 0 && (!last || data.output_frames_gen == 0))
            return out_;
    }
}

} // namespace encoder
