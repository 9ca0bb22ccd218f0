// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Gives the calling thread a name that `top -H`, a debugger and /proc/PID/task/*/comm show, so
// that a thread still running can be told apart from the others: a lane of a split song from
// the flush of a file that was just put in place.
#pragma once

namespace platform {

// At most 15 characters are kept. Where the system cannot name threads, nothing happens.
void NameThisThread(const char* name);

} // namespace platform
