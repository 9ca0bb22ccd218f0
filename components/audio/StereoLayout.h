// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The synthesiser's stereo as the synthesiser gives it (two buffers) and as files, meters and
// queues hold it (interleaved), and as a consumer with `channels` takes it: as it is for two, for
// one the average of left and right (how the sound writer makes mono, and so how the meter hears
// it).
#pragma once

#include <cstddef>
#include <vector>

namespace quillory::renderer {

inline void interleave(const float* left, const float* right, std::size_t frames, float* stereo) {
    for (std::size_t i = 0; i < frames; ++i) {
        stereo[2 * i] = left[i];
        stereo[2 * i + 1] = right[i];
    }
}

inline void deinterleave(const float* stereo, std::size_t frames, float* left, float* right) {
    for (std::size_t i = 0; i < frames; ++i) {
        left[i] = stereo[2 * i];
        right[i] = stereo[2 * i + 1];
    }
}

// Interleaved stereo in `channels`: `stereo` itself, or `mono` filled with the mix.
inline const float* inChannels(const float* stereo, std::size_t frames, int channels,
                               std::vector<float>& mono) {
    if (channels == 2)
        return stereo;
    mono.resize(frames);
    for (std::size_t i = 0; i < frames; ++i)
        mono[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
    return mono.data();
}

// The two buffers in `channels`, into `out`.
inline const float* inChannels(const float* left, const float* right, std::size_t frames,
                               int channels, std::vector<float>& out) {
    out.resize(frames * std::size_t(channels));
    if (channels == 2) {
        interleave(left, right, frames, out.data());
    } else {
        for (std::size_t i = 0; i < frames; ++i)
            out[i] = 0.5f * (left[i] + right[i]);
    }
    return out.data();
}

} // namespace quillory::renderer
