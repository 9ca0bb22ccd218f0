// What the batch tells the user on stderr: one line per finished file, and, only when stderr is
// a terminal, a live line with the files in progress that the finished lines scroll past.
// Called from every worker thread.
#pragma once

#include "tools/convert/Converter.h"
#include "tools/convert/Plan.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace convert {

class Reporter {
public:
    Reporter(std::FILE* out, bool live, bool quiet, std::size_t total);

    void progress(std::size_t index, const Job& job, int percent);
    void finished(std::size_t index, const Job& job, const Outcome& outcome, double seconds);
    void line(const std::string& text);

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
