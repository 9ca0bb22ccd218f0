// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "python/engine/SingleConversion.h"

#include "components/midi/MidiFile.h"
#include "platform/Files.h"
#include "platform/InstanceFolder.h"
#include "tools/convert/ConvertSettings.h"
#include "tools/convert/Converter.h"
#include "tools/convert/Options.h"
#include "tools/convert/OutputPolicy.h"
#include "tools/convert/Plan.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quillory::python {

namespace fs = std::filesystem;

namespace {

// The output's folder must take a new file, and an output there already needs --force.
void checkOutput(const convert::Job& job, bool force) {
    const fs::path folder = job.output.has_parent_path() ? job.output.parent_path() : ".";
    if (!job.makeFolder && ::access(folder.c_str(), W_OK | X_OK) != 0) {
        const int error = errno;
        throw FileError(error, folder,
                        "cannot write into \"" + folder.string() + "\": " + std::strerror(error));
    }
    if (const std::string refused = convert::outputRefusal(job.output, force || job.replace);
        !refused.empty()) {
        std::error_code ec;
        throw FileError(fs::is_directory(job.output, ec) ? EISDIR : EEXIST, job.output, refused);
    }
}

} // namespace

std::string convertOne(const fs::path& input, const fs::path& output,
                       const std::vector<std::string>& options, const Progress& progress) {
    std::vector<std::string> arguments{input.string(), "-o", output.string()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const convert::ParsedArguments parsed = convert::parseArguments(arguments);
    if (!parsed.error.empty())
        throw std::invalid_argument(parsed.error);
    const convert::Options& given = parsed.options;
    checkReadable(input);
    if (given.settingsFile)
        checkReadable(*given.settingsFile);
    for (const fs::path& soundFont : given.overrides.soundFonts)
        checkReadable(soundFont);
    const convert::JobPlan plan = convert::planJobs(given);
    if (!plan.error.empty())
        throw std::invalid_argument(plan.error);
    if (plan.jobs.size() != 1)
        throw std::invalid_argument("one input and one output are converted at a time");
    const convert::Job& job = plan.jobs.front();
    checkOutput(job, given.force);
    if (job.from == convert::InputType::Midi)
        renderer::MidiFile::read(job.input); // a bad song fails as a MidiError
    const fs::path folder = programFolder();
    convert::ResolvedSettings resolved =
        convert::resolveSettings(given, convert::programSettingsFile(folder), folder);
    // The files were found above: what is left is a SoundFont that FluidSynth refuses.
    if (!resolved.error.empty())
        throw renderer::SynthError(resolved.error);
    if (job.from == convert::InputType::Midi && resolved.settings.soundFonts.empty())
        throw renderer::SynthError("no SoundFont found; name one with soundfont=");
    resolved.settings.workFolder = platform::ToFsPath(platform::InstanceFolder());
    convert::Converter converter(resolved.settings, given.force);
    const convert::Outcome outcome =
        converter.convert(job, [&progress](int percent) { return !progress || progress(percent); });
    if (outcome.interrupted)
        throw Stopped();
    if (outcome.skipped || !outcome.ok)
        throw RenderFailure(job.input.string() + ": " + outcome.message);
    return outcome.message;
}

} // namespace quillory::python
