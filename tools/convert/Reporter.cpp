#include "tools/convert/Reporter.h"

#include "platform/Console.h"

namespace convert {

namespace {

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", s);
    return text;
}

} // namespace

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
    active_[index] = {job.input.filename().string(), percent};
    drawLive();
}

void Reporter::finished(std::size_t index, const Job& job, const Outcome& outcome, double time) {
    std::lock_guard lock(mutex_);
    active_.erase(index);
    ++done_;
    clearLive();
    const std::string in = job.input.string();
    if (!outcome.ok)
        std::fprintf(out_, "failed %s: %s\n", in.c_str(), outcome.message.c_str());
    else {
        if (!quiet_)
            std::fprintf(out_, "ok %s -> %s (%s)\n", in.c_str(), job.output.string().c_str(),
                         seconds(time).c_str());
        if (!outcome.message.empty())
            std::fprintf(out_, "warning %s: %s\n", in.c_str(), outcome.message.c_str());
    }
    if (live_ && !active_.empty())
        drawLive();
    std::fflush(out_);
}

void Reporter::line(const std::string& text) {
    std::lock_guard lock(mutex_);
    clearLive();
    std::fprintf(out_, "%s\n", text.c_str());
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
