// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// How a conversion fails, how it tells its progress, and how its caller stops it: every
// conversion reports each block of work to a progress function, which may answer "stop".
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <stdexcept>

namespace quillory::conversion {

class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A conversion that stopped because the progress function asked it to.
class Interrupted : public ConversionError {
public:
    Interrupted()
        : ConversionError("interrupted") {}
};

// Called after every block of work with the whole percentage done; returns false to stop, which
// ends the conversion with Interrupted. Every block, so that a stop never waits for the next
// percent: in the output pass of a long song a percent can take seconds.
using ProgressFn = std::function<bool(int percent)>;

// Reports each block's progress and turns a request to stop into the error that ends the
// conversion. What it shows never goes backwards, since a pass that hands over to the next may
// start below what was shown, and stays below 100 until done(): the output is not in place before.
class Percent {
public:
    explicit Percent(const ProgressFn& progress)
        : progress_(progress) {}

    void set(int percent) { show(std::min(percent, 99)); }
    void update(std::uint64_t done, std::uint64_t total) {
        set(total == 0 ? 99 : int(std::min<std::uint64_t>(99, done * 100 / total)));
    }
    void done() { show(100); }

private:
    void show(int percent) {
        last_ = std::max(last_, percent);
        if (progress_ && !progress_(last_))
            throw Interrupted();
    }

    const ProgressFn& progress_;
    int last_ = 0;
};

} // namespace quillory::conversion
