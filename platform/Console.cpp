// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/Console.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

int SetAsideStdout() {
#ifdef _WIN32
    std::fflush(stdout);
    const int kept = _dup(_fileno(stdout));
    if (kept >= 0)
        _dup2(_fileno(stderr), _fileno(stdout));
    return kept;
#else
    std::fflush(stdout);
    const int kept = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (kept >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        close(kept);
        return -1;
    }
    return kept;
#endif
}

void IgnoreBrokenPipe() {
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

} // namespace platform
