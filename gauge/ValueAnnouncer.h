// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// When a screen reader hears the gauge's value. A bar that tells every percent floods the
// reader, which then lags behind or drops what matters, so a new value is told at once only
// when it lies ten points or more from the value last told, or when a second has passed since
// then; a smaller change within that second is told when the second is up.
#pragma once

#include <cstdint>
#include <optional>

namespace gauge {

class ValueAnnouncer {
public:
    static constexpr std::int64_t QuietMs = 1000;
    static constexpr int Step = 10;

    // told: the value a reader already knows, the one shown when the control appeared.
    explicit ValueAnnouncer(int told)
        : told_(told)
        , shown_(told) {}

    // A value shown at nowMs: how many milliseconds to wait before telling it, 0 for at once,
    // or nothing when the reader knows it already.
    std::optional<std::int64_t> shown(int value, std::int64_t nowMs);
    // The value shown last, now told.
    int tell(std::int64_t nowMs);

private:
    int told_;
    int shown_;
    std::optional<std::int64_t> toldAt_;
};

} // namespace gauge
