// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What the batch tells the user on stderr: one line per file ("ok", "failed", "interrupted",
// "not started" or "skipped"), a last line that counts them with the batch's time, and, only when
// stderr is a terminal, a live line with the files in progress that the other lines scroll past.
// Quiet, only failures are told. Called from every worker thread.
#pragma once

#include "tools/convert/Converter.h"
#include "tools/convert/Plan.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace convert {

// What became of a batch's files.
struct BatchCount {
    std::size_t converted = 0;
    std::size_t failed = 0;
    std::size_t interrupted = 0;
    std::size_t notStarted = 0;
    std::size_t skipped = 0; // complete already (--resume), or left to another process
};

// A length of time as people read it: "4.2 s", "3 min 07 s", "1 h 02 min 07 s".
std::string readableDuration(double seconds);

class Reporter {
public:
    Reporter(std::FILE* out, bool live, bool quiet, std::size_t total);

    void progress(std::size_t index, const Job& job, int percent);
    void finished(std::size_t index, const Job& job, const Outcome& outcome, double seconds);
    // A file the batch never began, because it was interrupted.
    void notStarted(const Job& job);
    // A file left as it is, and why: "skipped IN: complete: ...".
    void skipped(const Job& job, const std::string& reason);
    void line(const std::string& text);
    // The batch's last line: "N converted, M failed (T)", with the interrupted files and those
    // never started when there are any; not when quiet.
    void summary(const BatchCount& count, double seconds);

private:
    void clearLive();
    void drawLive();

    std::mutex mutex_;
    std::FILE* out_;
    bool live_;
    bool quiet_;
    std::size_t total_;
    std::size_t done_ = 0;
    std::map<std::size_t, std::pair<std::string, int>> active_;
    bool liveShown_ = false;
};

// Whether stderr is a terminal, where a live line that rewrites itself makes sense.
bool stderrIsTerminal();

} // namespace convert
