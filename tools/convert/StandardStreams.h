// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// "-" on the command line, as sox, ffmpeg and flac take it: standard input as the input, standard
// output as the output (a file of that name is "./-"). Standard input has no extension, so its
// first bytes say what it holds: "MThd" or a RIFF RMID file is MIDI, a RIFF or RF64 WAVE file is
// WAV, and anything else is refused before the batch begins. A MIDI file is then read into
// memory, as any MIDI file is (at most MidiFile::kMaxFileBytes); a WAV is copied into the work
// folder first, since it may be larger than memory, libsndfile reads it from a file that it can
// seek in (to its chunks after the audio, and an RF64's sizes), and its length, known before the
// conversion begins, gives a WAV output its exact header.
#pragma once

#include "components/conversion/Progress.h"
#include "components/midi/MidiFile.h"
#include "tools/convert/Plan.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace convert {

namespace conversion = quillory::conversion;

inline constexpr const char* kStandardInputName = "standard input";
inline constexpr const char* kStandardOutputName = "standard output";

bool isStandardStream(const std::filesystem::path& path);
// What messages call a job's input and output: their names, shown as ShownName shows them, or
// "standard input" and "standard output" for "-".
std::string shownInput(const std::filesystem::path& input);
std::string shownOutput(const std::filesystem::path& output);

// What a file's first bytes (twelve are enough) say it holds, if MIDI or WAV.
std::optional<InputType> contentType(std::span<const std::uint8_t> head);

class StandardInput {
public:
    // Reads the first bytes of fd (standard input): type() says what it holds, or error() why it
    // cannot be converted (a terminal, nothing, neither MIDI nor WAV), for a usage error.
    explicit StandardInput(int fd);
    std::optional<InputType> type() const { return type_; }
    const std::string& error() const { return error_; }

    // The whole MIDI file; throws MidiError when it is too large for one or cannot be read, and
    // Interrupted when progress says stop while it waits for more.
    quillory::renderer::MidiFile midi(const conversion::ProgressFn& progress);
    // Copies the WAV into the new file copy (in the work folder); throws ConversionError when it
    // cannot (naming the folder), Interrupted as midi() does. The caller removes the copy.
    void copyWav(const std::filesystem::path& copy, const conversion::ProgressFn& progress);

private:
    // Up to size more bytes; 0 at the end. Throws when the read fails or progress says stop.
    std::size_t next(std::uint8_t* into, std::size_t size, const conversion::ProgressFn& progress);

    int fd_;
    std::vector<std::uint8_t> head_;
    std::optional<InputType> type_;
    std::string error_;
};

} // namespace convert
