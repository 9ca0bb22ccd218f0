// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/Plan.h"

#include "platform/ShownName.h"
#include "tools/convert/StandardStreams.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

namespace convert {

namespace fs = std::filesystem;

namespace {

std::string lowerExtension(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

// What messages call an input: standard input, or the file in quotes.
std::string quotedInput(const fs::path& path) {
    return isStandardStream(path) ? kStandardInputName : platform::Quoted(path);
}

std::optional<InputType> inputType(const fs::path& path) {
    const std::string extension = lowerExtension(path);
    // .rmi: a RIFF MIDI file; .kar: a karaoke song, a MIDI file with its lyrics.
    if (extension == ".mid" || extension == ".midi" || extension == ".rmi" || extension == ".kar")
        return InputType::Midi;
    if (extension == ".wav")
        return InputType::Wav;
    return std::nullopt;
}

// Two spellings of one file ("a/../b.mp3" and "b.mp3") must count as the same output.
fs::path comparable(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return (ec ? path : absolute).lexically_normal();
}

// A missing folder is made before the batch runs; something else in its place is an error.
std::string checkOutputDir(const fs::path& dir) {
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec))
        return "the output folder " + platform::Quoted(dir) + " is not a folder";
    return {};
}

// The report is opened before the batch begins, and opening it empties the file.
std::string reportClash(const std::optional<fs::path>& report, const std::vector<Job>& jobs) {
    if (!report || isStandardStream(*report))
        return {};
    for (const Job& job : jobs)
        for (const fs::path& file : {job.input, job.output})
            if (!isStandardStream(file) && comparable(file) == comparable(*report))
                return "the report " + platform::Quoted(*report) + " would replace " +
                       platform::Quoted(file);
    return {};
}

// Where an input's output goes under --output-dir: beside the others, or with --keep-tree in the
// folder below DIR that the input has below ROOT. Empty when the input is not below ROOT.
fs::path outputIn(const Options& options, const fs::path& input, const std::string& extension) {
    fs::path name = input.filename().replace_extension(extension);
    if (!options.keepTree)
        return *options.outputDir / name;
    const fs::path relative = comparable(input).lexically_relative(comparable(*options.keepTree));
    if (relative.empty() || *relative.begin() == "..")
        return {};
    return *options.outputDir / relative.parent_path() / name;
}

} // namespace

JobPlan planJobs(const Options& options, std::optional<InputType> standardInput) {
    JobPlan plan;
    std::optional<OutputType> to = options.format;
    if (options.output && isStandardStream(*options.output)) {
        // Standard output has no extension: --format says the type (see Options).
    } else if (options.output) {
        const std::optional<OutputType> named = outputTypeOf(*options.output);
        if (!named) {
            plan.error = "the output " + platform::Quoted(*options.output) +
                         " must end in .wav, .flac, .ogg, .opus or .mp3";
            return plan;
        }
        if (to && *to != *named) {
            plan.error =
                "--format disagrees with the extension of " + platform::Quoted(*options.output);
            return plan;
        }
        to = named;
    } else if (options.outputDir) {
        if (plan.error = checkOutputDir(*options.outputDir); !plan.error.empty())
            return plan;
    }
    if (!to) {
        plan.error = "no output type: use -o FILE.wav|.flac|.ogg|.opus|.mp3, or --format with "
                     "--output-dir";
        return plan;
    }

    if (plan.error = formatProblem(options, *to); !plan.error.empty())
        return plan;
    const std::string newExtension = extensionOf(*to);
    std::map<fs::path, fs::path> inputOf; // output -> the input that claimed it
    for (const fs::path& input : options.inputs) {
        const std::optional<InputType> from =
            isStandardStream(input) ? standardInput : inputType(input);
        if (!from && isStandardStream(input))
            return JobPlan{{},
                           "the input - (standard input) goes on the command line, with -o FILE "
                           "or -o -; a file named - is ./-"};
        if (!from) {
            return JobPlan{{},
                           "the input " + platform::Quoted(input) +
                               " is neither MIDI (.mid, .midi, .rmi, .kar) nor .wav"};
        }
        // A WAV has no MIDI channels to make stems of; without stems it would pass unnoticed.
        if (options.stems && *from == InputType::Wav)
            return JobPlan{{},
                           "--stems makes stems of MIDI files, but " + quotedInput(input) +
                               " is a WAV file"};
        if (options.labels && *from == InputType::Wav)
            return JobPlan{{},
                           "--labels labels the notes of MIDI files, but " +
                               platform::Quoted(input) + " is a WAV file"};
        fs::path output = options.output ? *options.output : outputIn(options, input, newExtension);
        if (output.empty())
            return JobPlan{{},
                           "the input " + platform::Quoted(input) + " is not below --keep-tree " +
                               platform::Quoted(*options.keepTree)};
        if (!isStandardStream(output) && !isStandardStream(input) &&
            comparable(output) == comparable(input))
            return JobPlan{
                {}, "the output of " + platform::Quoted(input) + " would replace the input itself"};
        const auto [claimed, fresh] = inputOf.emplace(comparable(output), input);
        if (!fresh) {
            return JobPlan{{},
                           "the inputs " + platform::Quoted(claimed->second) + " and " +
                               platform::Quoted(input) + " would both be written to " +
                               platform::Quoted(output)};
        }
        plan.jobs.push_back(
            Job{input, std::move(output), *from, *to, options.keepTree.has_value()});
    }
    plan.error = reportClash(options.report, plan.jobs);
    if (!plan.error.empty())
        plan.jobs.clear();
    return plan;
}

} // namespace convert
