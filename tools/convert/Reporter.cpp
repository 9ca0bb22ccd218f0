// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/Reporter.h"

#include "platform/Console.h"
#include "platform/ShownName.h"
#include "tools/convert/StandardStreams.h"

#include <algorithm>
#include <cmath>

namespace convert {

namespace {

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", s);
    return text;
}

} // namespace

std::string readableDuration(double s) {
    // Tenths up to a minute; whole seconds beyond, where they are all that still changes.
    if (s < 59.95)
        return seconds(std::max(s, 0.0));
    const long long total = std::llround(s);
    char text[48];
    if (total < 3600)
        std::snprintf(text, sizeof text, "%lld min %02lld s", total / 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%lld h %02lld min %02lld s", total / 3600,
                      total / 60 % 60, total % 60);
    return text;
}

Reporter::Reporter(std::FILE* out, bool live, bool quiet, std::size_t total)
    : out_(out)
    , live_(live)
    , quiet_(quiet)
    , total_(total) {
}

void Reporter::progress(std::size_t index, const Job& job, int percent) {
    if (!live_)
        return;
    std::lock_guard lock(mutex_);
    active_[index] = {shownInput(job.input.filename()), percent};
    drawLive();
}

void Reporter::finished(std::size_t index, const Job& job, const Outcome& outcome, double time) {
    std::lock_guard lock(mutex_);
    active_.erase(index);
    ++done_;
    clearLive();
    const std::string in = shownInput(job.input);
    const std::string message = platform::TerminalSafe(outcome.message);
    if (outcome.interrupted) {
        if (!quiet_)
            std::fprintf(out_, "interrupted %s\n", in.c_str());
    } else if (!outcome.ok)
        std::fprintf(out_, "failed %s: %s\n", in.c_str(), message.c_str());
    else {
        if (!quiet_)
            std::fprintf(out_, "ok %s -> %s (%s)\n", in.c_str(), shownOutput(job.output).c_str(),
                         seconds(time).c_str());
        if (!message.empty())
            std::fprintf(out_, "warning %s: %s\n", in.c_str(), message.c_str());
    }
    if (live_ && !active_.empty())
        drawLive();
    std::fflush(out_);
}

void Reporter::notStarted(const Job& job) {
    if (quiet_)
        return;
    std::lock_guard lock(mutex_);
    clearLive();
    std::fprintf(out_, "not started %s\n", shownInput(job.input).c_str());
    if (live_ && !active_.empty())
        drawLive();
    std::fflush(out_);
}

void Reporter::skipped(const Job& job, const std::string& reason) {
    std::lock_guard lock(mutex_);
    ++done_;
    if (quiet_)
        return;
    clearLive();
    std::fprintf(out_, "skipped %s: %s\n", shownInput(job.input).c_str(),
                 platform::TerminalSafe(reason).c_str());
    if (live_ && !active_.empty())
        drawLive();
    std::fflush(out_);
}

void Reporter::summary(const BatchCount& count, double time) {
    if (quiet_)
        return;
    std::string text =
        std::to_string(count.converted) + " converted, " + std::to_string(count.failed) + " failed";
    if (count.interrupted > 0)
        text += ", " + std::to_string(count.interrupted) + " interrupted";
    if (count.notStarted > 0)
        text += ", " + std::to_string(count.notStarted) + " not started";
    if (count.skipped > 0)
        text += ", " + std::to_string(count.skipped) + " skipped";
    line(text + " (" + readableDuration(time) + ")");
}

void Reporter::line(const std::string& text) {
    std::lock_guard lock(mutex_);
    clearLive();
    std::fprintf(out_, "%s\n", platform::TerminalSafe(text).c_str());
    std::fflush(out_);
}

void Reporter::clearLive() {
    if (liveShown_)
        std::fputs("\r\033[K", out_);
    liveShown_ = false;
}

void Reporter::drawLive() {
    std::string text = "[" + std::to_string(done_) + "/" + std::to_string(total_) + "]";
    for (const auto& [index, file] : active_)
        text += " " + file.first + " " + std::to_string(file.second) + "%";
    // Kept to one terminal line, or the carriage return would no longer reach its start.
    if (text.size() > 79)
        text = text.substr(0, 76) + "...";
    std::fprintf(out_, "\r\033[K%s", text.c_str());
    std::fflush(out_);
    liveShown_ = true;
}

bool stderrIsTerminal() {
    return platform::StderrIsTerminal();
}

} // namespace convert
