// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/ThreadBudget.h"

#include "components/synthesis/UsableCores.h"

#include <algorithm>
#include <utility>

namespace quillory::renderer {

ThreadBudget::Grant::Grant(Grant&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr))
    , threads_(std::exchange(other.threads_, 0)) {
}

ThreadBudget::Grant& ThreadBudget::Grant::operator=(Grant&& other) noexcept {
    if (this != &other) {
        release();
        budget_ = std::exchange(other.budget_, nullptr);
        threads_ = std::exchange(other.threads_, 0);
    }
    return *this;
}

void ThreadBudget::Grant::shrink(unsigned threads) {
    if (threads >= threads_)
        return;
    const unsigned returned = threads_ - threads;
    threads_ = threads;
    if (budget_)
        budget_->giveBack(returned);
}

ThreadBudget::ThreadBudget(unsigned threads)
    : total_(std::max(threads, 1u))
    , free_(total_) {
}

ThreadBudget& ThreadBudget::shared() {
    static ThreadBudget budget(usableCores());
    return budget;
}

unsigned ThreadBudget::available() const {
    std::lock_guard lock(mutex_);
    return free_;
}

unsigned ThreadBudget::largestGrant() const {
    std::lock_guard lock(mutex_);
    return largest_;
}

ThreadBudget::Grant ThreadBudget::acquire(unsigned wanted) {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [this] { return free_ > 0; });
    const unsigned taken = std::min(std::max(wanted, 1u), free_);
    free_ -= taken;
    largest_ = std::max(largest_, taken);
    return Grant(this, taken);
}

ThreadBudget::Grant ThreadBudget::tryAcquire(unsigned wanted) {
    std::lock_guard lock(mutex_);
    const unsigned taken = std::min(wanted, free_);
    free_ -= taken;
    largest_ = std::max(largest_, taken);
    return Grant(this, taken);
}

void ThreadBudget::giveBack(unsigned threads) {
    {
        std::lock_guard lock(mutex_);
        free_ += threads;
    }
    freed_.notify_all();
}

} // namespace quillory::renderer
