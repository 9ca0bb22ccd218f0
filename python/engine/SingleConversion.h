// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// One file converted as `quillory-convert INPUT -o OUTPUT OPTIONS...` converts it, in this
// process: the options are the command line's own and go through its parser, its settings
// (options.ini of the program folder, the SoundFont search) and its converter, so a file comes out
// the same and fails for the same reasons with the same messages. What differs is how a failure
// is told: as the exceptions of ArrayRender.h, typed by what went wrong, where the command line
// has only a status and a line of text.
#pragma once

#include "python/engine/ArrayRender.h"

#include <filesystem>
#include <string>
#include <vector>

namespace quillory::python {

// Returns the warning the command line would show for a file that converted (a song not
// evened out, a damaged WAV), or an empty string. Throws std::invalid_argument for a usage
// error (exit status 2 of the command line), FileError for an input, output, settings file or
// SoundFont that cannot be used as a file (an output that exists without --force included),
// renderer::MidiError, renderer::SynthError, Stopped, and RenderFailure for any other failure.
std::string convertOne(const std::filesystem::path& input, const std::filesystem::path& output,
                       const std::vector<std::string>& options, const Progress& progress);

} // namespace quillory::python
