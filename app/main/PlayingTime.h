// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The playing times the main window shows under the bar. Computed in 64 bits, so songs of many
// hours show their real length instead of wrapping.
#pragma once

#include <QString>
#include <cstdint>

// Whole seconds up to 60 ("60"), minutes and seconds above ("1:5" for 65 s, "60:0" for an hour).
QString FormatTime(std::int64_t ms);
// The playing time reached at percent of a song of totalMs, rounded to whole milliseconds.
std::int64_t ElapsedMs(std::int64_t percent, std::int64_t totalMs);
