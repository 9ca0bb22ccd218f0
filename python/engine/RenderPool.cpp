// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "python/engine/RenderPool.h"

#include "components/synthesis/UsableCores.h"

#include <algorithm>

namespace quillory::python {

RenderPool::RenderPool(Settings settings, std::vector<MidiInput> songs, unsigned jobs, bool stems,
                       bool labels)
    : settings_(std::move(settings))
    , songs_(std::move(songs))
    , stems_(stems)
    , labels_(labels)
    , slots_(songs_.size()) {
    const unsigned wanted = jobs > 0 ? jobs : renderer::usableCores();
    const auto workers = unsigned(std::min<std::size_t>(std::max(wanted, 1u), songs_.size()));
    // Each worker's songs may split over its share of the cores, rounded up so that none is
    // left idle: the budget keeps the total to the cores.
    const unsigned total = renderer::ThreadBudget::shared().total();
    maxThreads_ = workers > 0 ? (total + workers - 1) / workers : total;
    // A worker may finish its next song while the reader still holds the one before.
    ahead_ = 2 * std::max(workers, 1u);
    for (unsigned w = 0; w < workers; ++w)
        threads_.emplace_back(&RenderPool::work, this);
}

RenderPool::~RenderPool() {
    stop();
    for (std::thread& thread : threads_)
        thread.join();
}

void RenderPool::stop() {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
}

void RenderPool::work() {
    ArrayRenderer renderer(settings_, nullptr, maxThreads_);
    for (;;) {
        std::size_t index = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] {
                return stopping_ || next_ >= songs_.size() || next_ < taken_ + ahead_;
            });
            if (stopping_ || next_ >= songs_.size())
                return;
            index = next_++;
        }
        Slot done;
        try {
            done.result = renderer.render(songs_[index], stems_, labels_, [this](int) {
                const std::lock_guard lock(mutex_);
                return !stopping_;
            });
        } catch (...) {
            done.error = std::current_exception();
        }
        // The song's bytes are not needed again.
        songs_[index].bytes = {};
        const std::lock_guard lock(mutex_);
        done.done = true;
        slots_[index] = std::move(done);
        changed_.notify_all();
    }
}

std::optional<Rendered> RenderPool::take(std::size_t index, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    if (index >= slots_.size() || index != taken_)
        throw std::out_of_range("songs are taken once each, in order");
    if (!changed_.wait_for(lock, wait, [&] { return slots_[index].done; }))
        return std::nullopt;
    Slot slot = std::move(slots_[index]);
    slots_[index] = Slot{};
    ++taken_;
    changed_.notify_all();
    if (slot.error)
        std::rethrow_exception(slot.error);
    return std::move(slot.result);
}

} // namespace quillory::python
