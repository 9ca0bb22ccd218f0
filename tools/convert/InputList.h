// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The inputs of a collection: the command line's, and those of a list file (--files-from) with
// one path a line, which no command-line limit bounds. Shards (--shard) take their part of the
// list in one order that every process computes alike from the same list: sorted by the bytes of
// the paths, each path once.
#pragma once

#include "tools/convert/Options.h"
#include "tools/convert/Plan.h"

#include <filesystem>
#include <istream>
#include <string>
#include <vector>

namespace convert {

// Adds the paths of `list`, one a line; lines that are empty or hold only spaces and tabs are
// skipped and a carriage return before the line's end is dropped, so that a list written on
// Windows reads the same. Returns what the file is instead when it is no list ("a MIDI file (it
// holds NUL bytes), ..."), else an empty string.
std::string readInputList(std::istream& list, std::vector<std::filesystem::path>& inputs);

// Adds --files-from's paths to the inputs and puts them in the collection's order: each path
// once when a list or a shard is given (the first of two spellings of one path stays), sorted
// when there is a shard. Empty on success, else why not (the list cannot be read).
std::string gatherInputs(Options& options);

// The jobs of the shard: every count-th from index on.
std::vector<Job> shardOf(std::vector<Job> jobs, const Shard& shard);

} // namespace convert
