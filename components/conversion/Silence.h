// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A song that synthesises to digital silence fails instead of leaving a silent file: a SoundFont
// without the presets the song asks for, or a file of controller events only, sounds nothing,
// and a collection rendered for listening or for training must not fill with such files. The
// watch passes any block source's blocks on as they are and notes whether one sample sounded.
#pragma once

#include "components/audio/BlockSource.h"

#include <atomic>
#include <memory>

namespace quillory::conversion {

inline constexpr const char* kSilenceMessage =
    "renders to silence: no instrument of the SoundFont sounds";

class SilenceWatch final : public quillory::renderer::BlockSource {
public:
    // Below the smallest step of a 24-bit sample: what FluidSynth's effects leave in a song
    // without a voice stays under it.
    static constexpr float kThreshold = 1.0f / (1 << 24);

    explicit SilenceWatch(std::unique_ptr<BlockSource> source)
        : source_(std::move(source)) {}

    std::size_t render(float* left, float* right, std::size_t maxFrames) override {
        const std::size_t frames = source_->render(left, right, maxFrames);
        if (!heard_.load(std::memory_order_relaxed))
            for (std::size_t i = 0; i < frames; ++i)
                if (left[i] > kThreshold || left[i] < -kThreshold || right[i] > kThreshold ||
                    right[i] < -kThreshold) {
                    heard_.store(true, std::memory_order_relaxed);
                    break;
                }
        return frames;
    }
    bool finished() const override { return source_->finished(); }
    int percent() const override { return source_->percent(); }
    void raiseLaterBy(double boostDb) override { source_->raiseLaterBy(boostDb); }
    double threadSeconds() const override { return source_->threadSeconds(); }

    // Whether any sample of what passed sounded.
    bool heard() const { return heard_.load(std::memory_order_relaxed); }

private:
    std::unique_ptr<BlockSource> source_;
    std::atomic<bool> heard_{false};
};

} // namespace quillory::conversion
