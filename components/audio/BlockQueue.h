// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A small bounded queue of audio blocks between two threads: the synthesis and what takes its
// blocks (the encoder of the batch converter, the meter and work file of the loudness pass).
// The synth runs ahead by a few blocks at most, so memory stays flat however long the song.
#pragma once

#include "components/audio/StereoLayout.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace quillory::renderer {

struct AudioBlock {
    std::vector<float> samples; // in the producer's layout (interleaved, or left then right)
    std::size_t frames = 0;

    // A block of `frames` stereo frames, interleaved from the synthesiser's two buffers.
    static AudioBlock interleaved(const float* left, const float* right, std::size_t frames) {
        AudioBlock block;
        block.frames = frames;
        block.samples.resize(2 * frames);
        interleave(left, right, frames, block.samples.data());
        return block;
    }
};

class BlockQueue {
public:
    explicit BlockQueue(std::size_t capacity)
        : capacity_(capacity) {}

    // Waits for room; false (the block dropped) once the queue is closed.
    bool push(AudioBlock block) {
        std::unique_lock lock(mutex_);
        roomOrClosed_.wait(lock, [&] { return closed_ || blocks_.size() < capacity_; });
        if (closed_)
            return false;
        blocks_.push_back(std::move(block));
        dataOrClosed_.notify_one();
        return true;
    }

    // Waits for a block; false when the queue is closed and empty.
    bool pop(AudioBlock& block) {
        std::unique_lock lock(mutex_);
        dataOrClosed_.wait(lock, [&] { return closed_ || !blocks_.empty(); });
        if (blocks_.empty())
            return false;
        block = std::move(blocks_.front());
        blocks_.pop_front();
        roomOrClosed_.notify_one();
        return true;
    }

    // No more pushes; pop still drains what is queued.
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        roomOrClosed_.notify_all();
        dataOrClosed_.notify_all();
    }

    // Closes and throws away what is queued, for a consumer that gives up.
    void abandon() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        blocks_.clear();
        roomOrClosed_.notify_all();
        dataOrClosed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable roomOrClosed_;
    std::condition_variable dataOrClosed_;
    std::deque<AudioBlock> blocks_;
    std::size_t capacity_;
    bool closed_ = false;
};

} // namespace quillory::renderer
