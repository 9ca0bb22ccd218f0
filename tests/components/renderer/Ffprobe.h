// What ffprobe, a reader that has nothing to do with our code, finds in a file we made: the
// container's tags and duration, and every warning it prints on the way. The tag tests of the
// renderer and the encoder both read their files back with it.
#pragma once

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace ffprobe {

inline bool available() {
    return std::system("command -v ffprobe >/dev/null 2>&1") == 0;
}

struct Facts {
    bool ran = false;
    std::map<std::string, std::string> tags; // keys as ffprobe names them, in lower case
    double duration = -1;                    // seconds
    double startTime = -1;                   // seconds; an MP3's encoder delay, when it knows it
    std::vector<std::string> warnings;       // anything it printed that is not a value

    std::string tag(const std::string& key) const {
        const auto found = tags.find(key);
        return found == tags.end() ? "(no " + key + " tag)" : found->second;
    }
};

inline std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

inline Facts probe(const std::filesystem::path& file) {
    Facts facts;
    std::string quoted = "'";
    for (char c : file.string())
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    const std::string command =
        "ffprobe -v warning -show_entries format=duration,start_time:format_tags "
        "-of default=noprint_wrappers=1 " +
        quoted + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return facts;
    std::string output;
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
        output.append(buffer.data(), n);
    facts.ran = pclose(pipe) == 0;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        const std::string line = output.substr(start, end - start);
        start = end + 1;
        if (line.rfind("TAG:", 0) == 0 && line.find('=') != std::string::npos) {
            const std::size_t eq = line.find('=');
            facts.tags[lower(line.substr(4, eq - 4))] = line.substr(eq + 1);
        } else if (line.rfind("duration=", 0) == 0) {
            facts.duration = std::atof(line.c_str() + 9);
        } else if (line.rfind("start_time=", 0) == 0) {
            facts.startTime = std::atof(line.c_str() + 11);
        } else if (!line.empty()) {
            facts.warnings.push_back(line);
        }
    }
    return facts;
}

} // namespace ffprobe
