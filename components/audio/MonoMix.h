// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Interleaved stereo as a consumer with `channels` takes it: as it is for two, for one the
// average of left and right (how the sound writer makes mono, and so how the meter hears it).
#pragma once

#include <cstddef>
#include <vector>

namespace quillory::renderer {

// The samples in that layout: `stereo` itself, or `mono` filled with the mix.
inline const float* inChannels(const float* stereo, std::size_t frames, int channels,
                               std::vector<float>& mono) {
    if (channels == 2)
        return stereo;
    mono.resize(frames);
    for (std::size_t i = 0; i < frames; ++i)
        mono[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
    return mono.data();
}

} // namespace quillory::renderer
