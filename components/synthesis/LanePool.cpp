// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/LanePool.h"

#include "components/synthesis/ThreadClock.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace quillory::renderer {

struct alignas(64) LanePool::Thread {
    std::vector<std::size_t> lanes;
    LaneCount count;
    std::atomic<double> seconds{0};
    std::thread thread;
};

LanePool::LanePool(std::size_t lanes, std::vector<std::vector<std::size_t>> threads,
                   std::size_t depth, std::size_t blockFrames, Ready ready)
    : depth_(depth)
    , ready_(std::move(ready))
    , jobs_(lanes) {
    for (auto& jobs : jobs_) {
        jobs.resize(depth);
        for (Job& job : jobs) {
            job.left.resize(blockFrames);
            job.right.resize(blockFrames);
        }
    }
    for (std::size_t i = 0; i < lanes; ++i)
        laneSeconds_.push_back(std::make_unique<std::atomic<double>>(0.0));
    for (auto& share : threads) {
        threads_.push_back(std::make_unique<Thread>());
        threads_.back()->lanes = std::move(share);
    }
    try {
        for (std::size_t i = 0; i < threads_.size(); ++i)
            threads_[i]->thread = std::thread(&LanePool::run, this, i);
    } catch (...) {
        stop();
        throw;
    }
}

LanePool::~LanePool() {
    stop();
}

void LanePool::run(std::size_t index) {
    platform::NameThisThread("quillory-lane");
    Thread& self = *threads_[index];
    std::vector<Synthesizer*> synths;
    try {
        for (const std::size_t lane : self.lanes)
            synths.push_back(&ready_(lane));
    } catch (const std::exception& e) {
        self.seconds.store(threadCpuSeconds(), std::memory_order_relaxed);
        self.count.fail(e.what());
        return;
    }
    for (std::uint64_t block = 0; gate_.await(block); ++block) {
        for (std::size_t i = 0; i < synths.size(); ++i) {
            const std::size_t lane = self.lanes[i];
            const double before = threadCpuSeconds();
            Job& work = job(lane, block);
            renderBlock(*synths[i], work.events, work.frames, work.left.data(), work.right.data());
            std::atomic<double>& spent = *laneSeconds_[lane];
            spent.store(spent.load(std::memory_order_relaxed) + threadCpuSeconds() - before,
                        std::memory_order_relaxed);
        }
        self.seconds.store(threadCpuSeconds(), std::memory_order_relaxed);
        self.count.rendered(block + 1);
    }
    self.seconds.store(threadCpuSeconds(), std::memory_order_relaxed);
}

void LanePool::await(std::uint64_t block) const {
    for (const auto& thread : threads_)
        thread->count.await(block);
}

std::vector<double> LanePool::laneSeconds() const {
    std::vector<double> seconds;
    for (const auto& spent : laneSeconds_)
        seconds.push_back(spent->load(std::memory_order_relaxed));
    return seconds;
}

double LanePool::threadSeconds() const {
    double total = 0;
    for (const auto& thread : threads_)
        total += thread->seconds.load(std::memory_order_relaxed);
    return total;
}

void LanePool::stop() {
    gate_.stop();
    for (const auto& thread : threads_)
        if (thread->thread.joinable())
            thread->thread.join();
}

std::vector<std::vector<std::size_t>> LanePool::roundAbout(std::size_t lanes, std::size_t threads) {
    threads = std::max<std::size_t>(1, std::min(threads, lanes));
    std::vector<std::vector<std::size_t>> shares(threads);
    for (std::size_t lane = lanes; lane-- > 0;)
        shares[lane % threads].push_back(lane);
    return shares;
}

} // namespace quillory::renderer
