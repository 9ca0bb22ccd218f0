// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The processor time the calling thread has used, for the reports and benches that say where a
// song's time went.
#pragma once

#include <ctime>

namespace quillory::renderer {

inline double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

} // namespace quillory::renderer
