// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The conversions of one MIDI or WAV file, each into the output it is given: written beside its
// target and put in place only when complete. Each throws ConversionError (or the engines'
// errors) with a sentence for the user, and then leaves the target as it was.
//
// MIDI is evened out as the levelling options say (a loudness target, the work folder for the
// song's float copy): synthesised and measured first, then written with its one gain. A song
// that cannot be levelled (no room in the work folder) is converted at the fixed gain, and the
// conversion returns why, for a warning. A lossy file (MP3, Ogg Vorbis, Opus) is levelled as it
// will sound once decoded: each take is decoded and measured, and made again with its gain
// corrected where it misses (LossyLevelling.h); what its Facts say of its loudness is what the
// file holds as decoded. An MP3 is made of the samples the window's 16-bit WAV holds, so that the
// window and the converter make the same MP3. Whatever comes from MIDI carries the song's title
// and copyright in its tags.
#pragma once

#include "components/conversion/Progress.h"
#include "components/encoder/Mp3Plan.h"
#include "components/midi/MidiFile.h"
#include "components/output/OutputFile.h"
#include "components/output/SoundWriter.h"
#include "components/renderer/RenderJob.h"
#include "components/synthesis/NoteLog.h"
#include "components/synthesis/Synthesizer.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillory::conversion {

// The loudness target (none for the fixed gain), the work folder, the thread budget the song's
// synthesis draws from with the most it may take, and, for tests, the free-space probe; the tags
// come from the song.
using Levelling = quillory::renderer::RenderOptions;

// A stem as it was written.
struct StemFact {
    int channel = 0; // 1 to 16
    std::string name;
    std::filesystem::path file;
    bool drums = false;
    std::vector<int> programs;
    std::vector<quillory::renderer::NoteLabel> labels; // with Levelling::labels
};

// What a conversion did, for the report: the length, what was measured and the gain, the format
// as written (a WAV input keeps its rate), the stems, and the processor time of the threads the
// conversion started (its own thread is the caller's to count).
struct Facts {
    double seconds = 0;
    std::uint64_t frames = 0;
    std::optional<quillory::renderer::Loudness> loudness;
    std::optional<double> gainDb;
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0; // 0 where the format takes float
    std::vector<StemFact> stems;
    double threadSeconds = 0;
    // Where every note sounded, with Levelling::labels, in synthesised frames; labelScale turns
    // them into frames of the output (an encoder may resample).
    std::vector<quillory::renderer::NoteLabel> labels;
    double labelScale = 1.0;
    std::filesystem::path labelsFile; // where they were written
    // The takes a lossy file needed before it kept the promise as decoded; 0 where none was
    // judged.
    int takes = 0;
};

// Both return why the song was not evened out although asked, or an empty string. Every format
// but MP3; Opus must be asked for at 48000 Hz.
std::string midiToSound(quillory::renderer::MidiFile song, quillory::renderer::Synthesizer& synth,
                        const quillory::renderer::SoundFormat& format, const Levelling& levelling,
                        quillory::output::OutputFile output, const ProgressFn& progress,
                        Facts& facts);

// No WAV is written on the way. Levelled, the song is synthesised and measured into the work
// folder, then encoded. At the fixed gain it streams straight into the encoder: the synth
// renders on a second thread while this one encodes and writes, with a few blocks between them.
std::string midiToMp3(quillory::renderer::MidiFile song, quillory::renderer::Synthesizer& synth,
                      int synthRate, const encoder::Mp3Settings& settings,
                      const Levelling& levelling, quillory::output::OutputFile output,
                      const ProgressFn& progress, Facts& facts);

// A WAV to convert, and what messages call it: its path, unless it is a copy of standard input.
struct WavInput {
    WavInput(std::filesystem::path file, std::string name = {})
        : file(std::move(file))
        , name(name.empty() ? this->file.string() : std::move(name)) {}
    std::filesystem::path file;
    std::string name;
};

// Returns a warning for the user (a damaged but usable WAV), or an empty string.
std::string wavToMp3(const WavInput& wav, const encoder::Mp3Settings& settings,
                     quillory::output::OutputFile output, const ProgressFn& progress, Facts& facts);

// A WAV into any other libsndfile format, at its own level and rate (Opus takes 48000 Hz, or a
// rate it codes directly: 8000, 12000, 16000 or 24000 Hz). `format` gives the container and its
// settings; its rate is the WAV's, and so are its channels and depth unless the command line
// chose them. Samples that fit the output's depth are copied as they are, so WAV to FLAC is
// lossless; only a reduction is dithered. Returns a warning, as wavToMp3 does.
// A WAV kept at its rate is written with its length known from the start (see
// SoundWriter::expectFrames).
std::string wavToSound(const WavInput& wav, quillory::renderer::SoundFormat format, bool bitsGiven,
                       bool channelsGiven, quillory::output::OutputFile output,
                       const ProgressFn& progress, Facts& facts);

} // namespace quillory::conversion
