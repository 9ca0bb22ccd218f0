// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The labels beside an output (--labels): where every note of the song really sounded, as the
// synthesisers played it (NoteLog), one line a note. The table, NAME.labels.tsv, has a header line
// and every column; the mir_eval form, NAME.labels.txt, has "onset offset frequency" lines in
// seconds and hertz for the notes that sounded, which mir_eval.io.load_valued_intervals reads.
#pragma once

#include "components/synthesis/NoteLog.h"

#include <filesystem>
#include <string>
#include <vector>

namespace quillory::conversion {

enum class LabelForm { Table, MirEval };

// "song.wav" gives "song.labels.tsv" (or "song.labels.txt").
std::filesystem::path labelPathFor(const std::filesystem::path& output, LabelForm form);

// The file's text. rate: the output's sample rate; scale: output frames per synthesised frame
// (1 unless the encoder resamples).
std::string labelText(const std::vector<quillory::renderer::NoteLabel>& notes, int rate,
                      double scale, LabelForm form);

// Writes the text beside its output, in place only when complete; empty, or why it failed.
std::string writeLabels(const std::filesystem::path& file, const std::string& text);

} // namespace quillory::conversion
