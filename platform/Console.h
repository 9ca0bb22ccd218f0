// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The console a command-line tool writes to.
#pragma once

namespace platform {

// True when standard error is a terminal, where a live progress line makes sense.
bool StderrIsTerminal();

} // namespace platform
