// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The synthesisers of one song at work side by side, for the split song and the stems alike. Each
// synthesiser is a lane: it is given every block of the song, with the events it is to play in
// it, and renders the block into buffers of its own. Lanes are shared out over as many threads
// as the song was granted, each thread rendering its lanes block by block in the order it was
// given them. Which thread renders a lane, and when, never changes what the lane renders: a song
// planned for two lanes sounds the same on one core as on two.
//
// The caller deals: it fills in a block's jobs, publishes the block and later awaits it, up to
// `depth` blocks ahead of what it has taken back, so that the threads run ahead through the
// busier passages of their lanes and nobody waits for anybody but at the ends of that queue.
#pragma once

#include "components/synthesis/LaneHandover.h"
#include "components/synthesis/Synthesizer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace quillory::renderer {

class LanePool {
public:
    // A lane's part of one block.
    struct Job {
        std::size_t frames = 0;
        std::vector<TimedEvent> events;
        std::vector<float> left;
        std::vector<float> right;
    };
    // Readies lane `lane`'s synthesiser on the thread that renders it, before its first block,
    // so that lanes load side by side. Throws (SynthError) when it cannot.
    using Ready = std::function<Synthesizer&(std::size_t lane)>;

    // threads: the lanes of each thread, in the order it renders them each block; every lane
    // 0 to lanes-1 once.
    LanePool(std::size_t lanes, std::vector<std::vector<std::size_t>> threads, std::size_t depth,
             std::size_t blockFrames, Ready ready);
    // Stops and joins the threads.
    ~LanePool();
    LanePool(const LanePool&) = delete;
    LanePool& operator=(const LanePool&) = delete;

    std::size_t lanes() const { return jobs_.size(); }
    std::size_t threads() const { return threads_.size(); }
    std::size_t depth() const { return depth_; }
    // A block's job on a lane, to fill before the block is published; its place is free again
    // once the block `depth` before it has been awaited and read.
    Job& job(std::size_t lane, std::uint64_t block) {
        return jobs_[lane][std::size_t(block % depth_)];
    }
    // Blocks 0 to blocks-1 may be rendered.
    void publish(std::uint64_t blocks) { gate_.publish(blocks); }
    // Waits until every lane has rendered the block. Throws SynthError when a lane could not be
    // made ready.
    void await(std::uint64_t block) const;
    // Processor seconds each lane spent rendering its blocks so far, and each thread in all,
    // readying its lanes included.
    std::vector<double> laneSeconds() const;
    double threadSeconds() const;
    // Ends every thread's wait and joins them; what they rendered stays readable.
    void stop();

    // Lanes dealt round about over `threads` threads, each thread rendering the later lanes of
    // its share first: a lane that waits on what other lanes give it each block (the first,
    // which runs the reverb and chorus of a split song) comes last on its thread.
    static std::vector<std::vector<std::size_t>> roundAbout(std::size_t lanes, std::size_t threads);

private:
    struct Thread;
    void run(std::size_t index);

    std::size_t depth_;
    Ready ready_;
    std::vector<std::vector<Job>> jobs_;
    std::vector<std::unique_ptr<Thread>> threads_;
    std::vector<std::unique_ptr<std::atomic<double>>> laneSeconds_;
    BlockGate gate_;
};

} // namespace quillory::renderer
