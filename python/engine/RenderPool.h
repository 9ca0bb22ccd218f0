// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Many songs rendered to arrays side by side, handed out in the order they were given. Each
// worker owns an ArrayRenderer, so it loads the SoundFonts once and plays song after song on the
// same synthesisers; the workers' songs draw their synthesis threads from the process's one
// budget, each at most its share of the cores, as quillory-convert's batch does. Workers run at
// most a few songs ahead of the reader, so memory stays bounded however long the list.
#pragma once

#include "python/engine/ArrayRender.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace quillory::python {

class RenderPool {
public:
    // jobs: songs at once (0: one per usable core); never more than there are songs.
    RenderPool(Settings settings, std::vector<MidiInput> songs, unsigned jobs, bool stems,
               bool labels);
    // Stops the songs in flight and waits for the workers.
    ~RenderPool();
    RenderPool(const RenderPool&) = delete;
    RenderPool& operator=(const RenderPool&) = delete;

    std::size_t size() const { return slots_.size(); }
    unsigned workers() const { return unsigned(threads_.size()); }
    // Song `index` once rendered, waiting at most `wait` for it: nothing when it is not done yet.
    // Rethrows what rendering it threw. Each song is taken once, in order.
    std::optional<Rendered> take(std::size_t index, std::chrono::milliseconds wait);
    // Stops every song in flight and starts no other.
    void stop();

private:
    struct Slot {
        std::optional<Rendered> result;
        std::exception_ptr error;
        bool done = false;
    };
    void work();

    Settings settings_;
    std::vector<MidiInput> songs_;
    bool stems_;
    bool labels_;
    unsigned ahead_;
    std::vector<Slot> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;  // the next song a worker starts
    std::size_t taken_ = 0; // songs handed out
    bool stopping_ = false;
    unsigned maxThreads_ = 0;
    std::vector<std::thread> threads_;
};

} // namespace quillory::python
