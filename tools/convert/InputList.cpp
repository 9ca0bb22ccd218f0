// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/InputList.h"

#include "platform/ShownName.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>

namespace convert {

namespace fs = std::filesystem;

namespace {

bool blank(const std::string& line) {
    return line.find_first_not_of(" \t") == std::string::npos;
}

// What a file that is not a list of paths seems to be, for the message that refuses it: no path
// holds a NUL byte, so one NUL is enough to tell.
std::string notAList(const std::string& bytes) {
    if (bytes.find('\0') == std::string::npos)
        return {};
    if (bytes.rfind("MThd", 0) == 0)
        return "a MIDI file";
    if (bytes.rfind("RIFF", 0) == 0 && bytes.size() >= 12)
        return bytes.compare(8, 4, "WAVE") == 0   ? "a WAV file"
               : bytes.compare(8, 4, "RMID") == 0 ? "a RIFF MIDI file"
                                                  : "a RIFF file";
    return "a binary file";
}

} // namespace

std::string readInputList(std::istream& list, std::vector<fs::path>& inputs) {
    const std::string bytes{std::istreambuf_iterator<char>(list), std::istreambuf_iterator<char>()};
    if (const std::string what = notAList(bytes); !what.empty())
        return what + " (it holds NUL bytes), not a list of paths one a line";
    std::istringstream lines(bytes);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!blank(line))
            inputs.emplace_back(line);
    }
    return {};
}

std::string gatherInputs(Options& options) {
    if (options.filesFrom) {
        std::string refused;
        if (*options.filesFrom == "-") {
            refused = readInputList(std::cin, options.inputs);
        } else {
            std::ifstream list(*options.filesFrom, std::ios::binary);
            if (!list)
                return "cannot read the list " + platform::Quoted(*options.filesFrom) + ": " +
                       std::strerror(errno);
            refused = readInputList(list, options.inputs);
        }
        if (!refused.empty())
            return "the list " + platform::Quoted(*options.filesFrom) + " is " + refused;
        if (options.inputs.empty())
            return "the list " + platform::Quoted(*options.filesFrom) + " names no input";
    }
    if (!options.filesFrom && !options.shard)
        return {};
    // "a/./b.mid" and "a/b.mid" are one file; the list's own spelling is kept for the messages.
    std::set<std::string> seen;
    std::vector<fs::path> unique;
    for (fs::path& input : options.inputs)
        if (seen.insert(input.lexically_normal().string()).second)
            unique.push_back(std::move(input));
    if (options.shard)
        std::sort(unique.begin(), unique.end(), [](const fs::path& a, const fs::path& b) {
            return a.lexically_normal().string() < b.lexically_normal().string();
        });
    options.inputs = std::move(unique);
    return {};
}

std::vector<Job> shardOf(std::vector<Job> jobs, const Shard& shard) {
    std::vector<Job> part;
    for (std::size_t i = std::size_t(shard.index); i < jobs.size(); i += std::size_t(shard.count))
        part.push_back(std::move(jobs[i]));
    return part;
}

} // namespace convert
