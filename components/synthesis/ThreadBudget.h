// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// How many threads may synthesise at once, counted across everything that renders in the process:
// a batch of files converted side by side and a song split over several synthesisers draw from
// the same count, so together they never ask for more cores than the machine has. The thread that
// asks counts too: a grant of one thread means "render on your own thread, start no helper".
#pragma once

#include <condition_variable>
#include <mutex>

namespace quillory::renderer {

class ThreadBudget {
public:
    class Grant {
    public:
        Grant() = default;
        Grant(Grant&& other) noexcept;
        Grant& operator=(Grant&& other) noexcept;
        Grant(const Grant&) = delete;
        Grant& operator=(const Grant&) = delete;
        // Gives the threads back.
        ~Grant() { release(); }

        unsigned threads() const { return threads_; }
        // Keeps at most `threads` and gives the rest back at once.
        void shrink(unsigned threads);
        void release() { shrink(0); }

    private:
        friend class ThreadBudget;
        Grant(ThreadBudget* budget, unsigned threads)
            : budget_(budget)
            , threads_(threads) {}
        ThreadBudget* budget_ = nullptr;
        unsigned threads_ = 0;
    };

    // At least one thread, whatever is asked.
    explicit ThreadBudget(unsigned threads);
    ThreadBudget(const ThreadBudget&) = delete;
    ThreadBudget& operator=(const ThreadBudget&) = delete;

    // The process's own budget: one thread per core it may use (see usableCores).
    static ThreadBudget& shared();
    // The budget given, or the process's own when none is.
    static ThreadBudget& givenOrShared(ThreadBudget* given) { return given ? *given : shared(); }

    unsigned total() const { return total_; }
    unsigned available() const;
    // The most threads one grant has held: how widely the widest song was split.
    unsigned largestGrant() const;

    // Waits until a thread is free, then takes every free one up to `wanted` (at least one).
    Grant acquire(unsigned wanted);
    // Takes free threads up to `wanted` without waiting; the grant may hold none.
    Grant tryAcquire(unsigned wanted);

private:
    void giveBack(unsigned threads);

    const unsigned total_;
    mutable std::mutex mutex_;
    std::condition_variable freed_;
    unsigned free_;
    unsigned largest_ = 0;
};

} // namespace quillory::renderer
