// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/main/PlayingTime.h"

namespace {

// Rounds num / den to the nearest integer, halves to even, without going through floating point.
std::int64_t divideHalfEven(std::int64_t num, std::int64_t den) {
    std::int64_t q = num / den;
    std::int64_t r = num % den;
    if (r < 0) {
        q -= 1;
        r += den;
    }
    if (2 * r > den || (2 * r == den && q % 2 != 0))
        ++q;
    return q;
}

} // namespace

QString FormatTime(std::int64_t ms) {
    const std::int64_t s = divideHalfEven(ms, 1000);
    if (s <= 60)
        return QString::number(s);
    return QString::number(s / 60) + QLatin1Char(':') + QString::number(s % 60);
}

std::int64_t ElapsedMs(std::int64_t percent, std::int64_t totalMs) {
    return divideHalfEven(percent * totalMs, 100);
}
