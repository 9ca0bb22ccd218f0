// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The batch converter's command line: every option and its value checked here, before any file
// is touched, so that a typing mistake ends in a usage error (exit 2) and never in half a batch.
// QCommandLineParser reads the line, so the tool takes its options the way Qt programs do.
#pragma once

#include "components/conversion/LabelFile.h"
#include "components/levelling/LoudnessChoice.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace convert {

namespace conversion = quillory::conversion;

enum class OutputType { Wav, Flac, Vorbis, Opus, Mp3 };

// The output type a file name asks for by its extension (in any case), if any.
std::optional<OutputType> outputTypeOf(const std::filesystem::path& path);
// "WAV", "FLAC", "Ogg Vorbis", "Opus" or "MP3".
const char* formatName(OutputType type);
// ".wav", ".flac", ".ogg", ".opus" or ".mp3".
const char* extensionOf(OutputType type);

// Values given on the command line; each one replaces the settings file's value.
struct Overrides {
    std::optional<int> rate;
    std::optional<int> bits; // 32 for 32-bit float
    std::optional<int> channels;
    std::optional<int> quality;     // Ogg Vorbis, 0-10
    std::optional<int> bitRate;     // MP3's constant bit rate, or Opus's, kb/s
    std::optional<int> channelMode; // 0 stereo, 1 joint, 2 mono, 3 dual, as options.ini stores it
    std::optional<int> vbrMin;      // variable bit rate between vbrMin and vbrMax, kb/s
    std::optional<int> vbrMax;
    // Every --soundfont in order: played as one stack, each preset from the first that has it.
    std::vector<std::filesystem::path> soundFonts;
    std::optional<quillory::renderer::LoudnessChoice> loudness;
};

// Which part of a collection this process converts: the inputs whose place in the sorted list
// leaves `index` over when divided by `count`.
struct Shard {
    int index = 0;
    int count = 1;
};

struct Options {
    std::vector<std::filesystem::path> inputs;
    std::optional<std::filesystem::path> filesFrom; // --files-from; "-" for stdin
    std::optional<std::filesystem::path> keepTree;  // --keep-tree ROOT
    std::optional<Shard> shard;
    bool resume = false;
    // A song longer than this fails before anything is synthesised: four hours of song.
    int maxSeconds = 14400;
    std::optional<double> timeout;                  // --timeout, seconds of wall time per file
    std::optional<std::filesystem::path> output;    // -o
    std::optional<std::filesystem::path> outputDir; // --output-dir
    std::optional<OutputType> format;               // --format
    std::optional<std::filesystem::path> settingsFile;
    std::optional<std::filesystem::path> report; // --report; "-" for stdout
    Overrides overrides;
    bool stems = false;
    std::optional<conversion::LabelForm> labels; // --labels
    int jobs = 0;                                // 0: defaultJobs()
    bool force = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

struct ParsedArguments {
    Options options;
    std::string error; // a usage error when not empty
};

// The environment a --shard slurm or index/N reads; getenv unless a test gives its own.
using Environment = std::function<const char*(const char*)>;

// args without the program name.
ParsedArguments parseArguments(const std::vector<std::string>& args,
                               const Environment& environment = std::getenv);

// Why the options do not suit the output type (a setting the format cannot take), naming the
// format and the values it takes; empty when they do.
std::string formatProblem(const Options& options, OutputType type);

// The --help text, made by the same parser from the same list of options.
std::string usageText();

// Files converted at once when --jobs does not say: one per core the process may use.
int defaultJobs();

// Bit rates (kb/s) an MP3 frame can have, MPEG-1 and MPEG-2 together.
bool isMp3BitRate(int kbps);

} // namespace convert
