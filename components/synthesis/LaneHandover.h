// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The lock-free hand-over between a thread that deals out blocks of a song and the lane threads
// that synthesise them, shared by the split song and the stems: the dealer counts the blocks it
// has published and each lane counts the blocks it has rendered, and either side sleeps on the
// other's count (std::atomic wait/notify) only when it has caught up with it.
#pragma once

#include "components/midi/MidiFile.h"
#include "components/synthesis/FluidInstance.h"
#include "components/synthesis/Synthesizer.h"
#include "components/synthesis/ThreadClock.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace quillory::renderer {

// An event of a block, at its frame into the block.
struct TimedEvent {
    std::uint32_t offset;
    MidiEvent event;
};

// Plays each event at its frame, as SongRenderer does: render up to it, play it, go on.
inline void renderBlock(Synthesizer& synth, const std::vector<TimedEvent>& events,
                        std::size_t frames, float* left, float* right) {
    std::size_t at = 0;
    for (const TimedEvent& timed : events) {
        if (timed.offset > at) {
            synth.render(left + at, right + at, int(timed.offset - at));
            at = timed.offset;
        }
        synth.play(timed.event);
    }
    if (frames > at)
        synth.render(left + at, right + at, int(frames - at));
}

// The blocks published so far, which the lanes wait on. stop() ends every lane's wait.
class BlockGate {
public:
    void publish(std::uint64_t blocks) {
        published_.store(blocks, std::memory_order_release);
        published_.notify_all();
    }
    void stop() {
        quit_.store(true, std::memory_order_release);
        published_.fetch_add(1, std::memory_order_release);
        published_.notify_all();
    }
    // A lane's wait for `block`: false when the lanes are to stop instead.
    bool await(std::uint64_t block) const {
        for (auto seen = published_.load(std::memory_order_acquire); seen <= block;
             seen = published_.load(std::memory_order_acquire)) {
            if (quit_.load(std::memory_order_acquire))
                return false;
            published_.wait(seen, std::memory_order_acquire);
        }
        return !quit_.load(std::memory_order_acquire);
    }

private:
    std::atomic<std::uint64_t> published_{0};
    std::atomic<bool> quit_{false};
};

// What one lane has rendered, as the dealer sees it; a lane that could not start says why.
class LaneCount {
public:
    void rendered(std::uint64_t blocks) {
        rendered_.store(blocks, std::memory_order_release);
        rendered_.notify_one();
    }
    void fail(std::string why) {
        failure_ = std::move(why);
        failed_.store(true, std::memory_order_release);
        rendered(std::numeric_limits<std::uint64_t>::max());
    }
    // The dealer's wait for `block`. Throws SynthError when the lane failed.
    void await(std::uint64_t block) const {
        for (auto done = rendered_.load(std::memory_order_acquire); done <= block;
             done = rendered_.load(std::memory_order_acquire))
            rendered_.wait(done, std::memory_order_acquire);
        if (failed_.load(std::memory_order_acquire))
            throw SynthError(failure_);
    }

private:
    std::atomic<std::uint64_t> rendered_{0};
    std::atomic<bool> failed_{false};
    std::string failure_;
};

} // namespace quillory::renderer
