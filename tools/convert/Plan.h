// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Which file becomes which: one job per input, with its output path and the kind of conversion.
// Everything that makes a whole batch meaningless (an unknown input type, a WAV-to-WAV request,
// two inputs that would write the same output) is found here, before anything runs.
#pragma once

#include "tools/convert/Options.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace convert {

enum class InputType { Midi, Wav };

struct Job {
    std::filesystem::path input;
    std::filesystem::path output;
    InputType from = InputType::Midi;
    OutputType to = OutputType::Wav;
    // The output's folder is made when missing (--keep-tree).
    bool makeFolder = false;
    // An existing output is replaced: an incomplete one that --resume makes again.
    bool replace = false;
};

struct JobPlan {
    std::vector<Job> jobs;
    std::string error; // a usage error when not empty
};

// standardInput: what the input "-" holds, as its first bytes say (StandardStreams.h).
JobPlan planJobs(const Options& options, std::optional<InputType> standardInput = std::nullopt);

} // namespace convert
