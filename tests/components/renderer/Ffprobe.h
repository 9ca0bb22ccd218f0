// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What ffprobe, a reader that has nothing to do with our code, finds in a file we made: the
// container's and the stream's tags, the duration, the codec and its rate, channels and depth,
// and every warning it prints on the way; and the samples as ffmpeg decodes them. The tag tests
// of the renderer and the encoder and the converter's format tests read their files back with it.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    std::map<std::string, std::string> tags;       // the container's, keys in lower case
    std::map<std::string, std::string> streamTags; // the audio stream's (an Ogg file's)
    double duration = -1;                          // seconds
    double startTime = -1; // seconds; an MP3's encoder delay, when it knows it
    std::string codec;     // "pcm_s16le", "flac", "vorbis", ...
    int sampleRate = 0;
    int channels = 0;
    int bits = 0; // bits_per_raw_sample, or of the PCM codec; 0 where there are none
    std::vector<std::string> warnings; // anything it printed that is not a value

    // The container's tag, or else the stream's.
    std::string tag(const std::string& key) const {
        for (const auto* map : {&tags, &streamTags})
            if (const auto found = map->find(key); found != map->end())
                return found->second;
        return "(no " + key + " tag)";
    }
};

inline std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

inline std::string shellQuoted(const std::filesystem::path& file) {
    std::string quoted = "'";
    for (char c : file.string())
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// What a command prints on stdout, and whether it ended well.
inline bool capture(const std::string& command, std::string& output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return false;
    std::array<char, 65536> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
        output.append(buffer.data(), n);
    return pclose(pipe) == 0;
}

// The samples as ffmpeg decodes them, as interleaved floats in the file's own channels; empty
// when it cannot.
inline std::vector<float> decode(const std::filesystem::path& file) {
    std::string bytes;
    if (!capture("ffmpeg -v error -i " + shellQuoted(file) + " -f f32le - 2>/dev/null", bytes))
        return {};
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

// The same as 32-bit integers, which hold every sample of 8 to 24-bit PCM exactly.
inline std::string decodeExactly(const std::filesystem::path& file) {
    std::string bytes;
    return capture("ffmpeg -v error -i " + shellQuoted(file) + " -f s32le - 2>/dev/null", bytes)
               ? bytes
               : std::string();
}

// Reads ffprobe's "key=value" lines into facts, the tags into `tags`.
inline void readLines(const std::string& output, Facts& facts,
                      std::map<std::string, std::string>& tags) {
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        const std::string line = output.substr(start, end - start);
        start = end + 1;
        const std::size_t eq = line.find('=');
        const auto number = [&] { return std::atof(line.c_str() + eq + 1); };
        if (line.rfind("TAG:", 0) == 0 && eq != std::string::npos)
            tags[lower(line.substr(4, eq - 4))] = line.substr(eq + 1);
        else if (line.rfind("duration=", 0) == 0)
            facts.duration = number();
        else if (line.rfind("start_time=", 0) == 0)
            facts.startTime = number();
        else if (line.rfind("codec_name=", 0) == 0)
            facts.codec = line.substr(eq + 1);
        else if (line.rfind("sample_rate=", 0) == 0)
            facts.sampleRate = int(number());
        else if (line.rfind("channels=", 0) == 0)
            facts.channels = int(number());
        else if (line.rfind("bits_per_", 0) == 0)
            facts.bits = std::max(facts.bits, int(number()));
        else if (!line.empty())
            facts.warnings.push_back(line);
    }
}

// What ffmpeg's own loudness meter (its ebur128 filter, which oversamples to 192 kHz for the
// true peak) finds in a file as ffmpeg decodes it; a mono file as dual mono, as ours measures it.
struct Loudness {
    bool ran = false;
    double lufs = -1e9;
    double truePeakDbtp = -1e9;
};

inline Loudness loudness(const std::filesystem::path& file) {
    std::string output;
    Loudness level;
    level.ran = capture("ffmpeg -v error -nostats -i " + shellQuoted(file) +
                            " -af ebur128=peak=true:dualmono=true:metadata=1,"
                            "ametadata=mode=print:file=- -f null - 2>/dev/null",
                        output);
    // Each frame prints the integrated loudness and the true peak so far; the last count.
    const auto last = [&](const std::string& key) {
        const std::size_t at = output.rfind(key + "=");
        return at == std::string::npos ? -1e9 : std::atof(output.c_str() + at + key.size() + 1);
    };
    level.lufs = last("lavfi.r128.I");
    level.truePeakDbtp = 20 * std::log10(last("lavfi.r128.true_peak"));
    return level;
}

inline Facts probe(const std::filesystem::path& file) {
    Facts facts;
    const std::string run = "ffprobe -v warning -of default=noprint_wrappers=1 -show_entries ";
    std::string container, stream;
    facts.ran =
        capture(run + "format=duration,start_time:format_tags " + shellQuoted(file) + " 2>&1",
                container) &&
        capture(run +
                    "stream=codec_name,sample_rate,channels,bits_per_raw_sample,"
                    "bits_per_sample:stream_tags -select_streams a:0 " +
                    shellQuoted(file) + " 2>/dev/null",
                stream);
    readLines(container, facts, facts.tags);
    readLines(stream, facts, facts.streamTags);
    return facts;
}

} // namespace ffprobe
