// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/InputList.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>

namespace convert {

namespace fs = std::filesystem;

void readInputList(std::istream& list, std::vector<fs::path>& inputs) {
    for (std::string line; std::getline(list, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            inputs.emplace_back(line);
    }
}

std::string gatherInputs(Options& options) {
    if (options.filesFrom) {
        if (*options.filesFrom == "-") {
            readInputList(std::cin, options.inputs);
        } else {
            std::ifstream list(*options.filesFrom, std::ios::binary);
            if (!list)
                return "cannot read the list \"" + options.filesFrom->string() +
                       "\": " + std::strerror(errno);
            readInputList(list, options.inputs);
        }
        if (options.inputs.empty())
            return "the list \"" + options.filesFrom->string() + "\" names no input";
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
