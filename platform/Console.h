// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The console a command-line tool writes to.
#pragma once

namespace platform {

// True when standard error is a terminal, where a live progress line makes sense.
bool StderrIsTerminal();

// Keeps standard output for the caller's data alone (audio written to it): returns a descriptor
// of its own for what standard output is, and points standard output at standard error, so
// that whatever else the process prints there (a library's message) cannot mix into the data.
// -1 (errno set) when it cannot.
int SetAsideStdout();

// A write to a pipe whose reader has gone fails (EPIPE) instead of ending the process, so that
// the writer can say so and tidy up.
void IgnoreBrokenPipe();

} // namespace platform
