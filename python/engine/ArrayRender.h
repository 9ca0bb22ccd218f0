// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The converter's MIDI-to-sound path with arrays at its end instead of files, for the Python
// module; no Python in here, so the engine side is built and tested like any other library.
//
// A song is converted exactly as quillory-convert converts it to a 32-bit float WAV: the same
// pipeline (synthesised, split over the cores, levelled with its one gain), writing into a file
// in memory, which is then read back as float. So an array equals the command line's file sample
// for sample by construction, and there is no second levelling to keep in step. With stems the
// converter's stem pipeline writes the song and its stems into a private folder, and each is read
// back the same way.
//
// A renderer owns one set of synthesisers with the SoundFonts loaded once, reset fully between
// songs, so that a song sounds the same whatever was rendered before it.
#pragma once

#include "components/levelling/Loudness.h"
#include "components/midi/MidiFile.h"
#include "components/midi/SongTags.h"
#include "components/midi/TagText.h"
#include "components/synthesis/FluidInstance.h"
#include "components/synthesis/NoteLog.h"
#include "components/synthesis/Synthesizer.h"
#include "components/synthesis/ThreadBudget.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillory::python {

// A file the user named that cannot be used as a file (missing, unreadable, a folder).
class FileError : public std::runtime_error {
public:
    FileError(int error, std::filesystem::path file, const std::string& what)
        : std::runtime_error(what)
        , error_(error)
        , file_(std::move(file)) {}
    int error() const { return error_; }
    const std::filesystem::path& file() const { return file_; }

private:
    int error_;
    std::filesystem::path file_;
};

// Anything else that ends a render with a sentence for the user: a song that renders to
// silence, one that is too long, a work folder that fails.
class RenderFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The render stopped because the progress function asked it to.
class Stopped : public std::runtime_error {
public:
    Stopped()
        : std::runtime_error("interrupted") {}
};

struct Settings {
    renderer::SoundFontStack soundFonts;
    int rate = 44100;
    int channels = 2;
    std::optional<double> loudness = -16.0; // LUFS; none for the synthesiser's fixed gain
    int maxSeconds = 14400;
};

// Checks what can be checked before a render: the rate and channels, and that every SoundFont
// is a readable file (FileError) that FluidSynth loads (SynthError). With no SoundFont given,
// finds the one the program would use; SynthError when there is none.
Settings checked(Settings settings);

// The SoundFonts the program itself would play with: the one options.ini names, else one beside
// the program, else the system's default General MIDI SoundFont.
renderer::SoundFontStack defaultSoundFonts();

// Where the program's folder is, seen from this code: found through the effect plugin's link
// beside the module; empty when neither is there.
std::filesystem::path programFolder();

// A song to render: a file, or its bytes with the name messages call it by.
struct MidiInput {
    std::filesystem::path file;
    std::vector<std::uint8_t> bytes;
    std::string name;
    bool inMemory = false;
};

// A sound file written by the converter, kept open and read back whole as interleaved float.
class SoundData {
public:
    SoundData() = default;
    explicit SoundData(int fd);
    ~SoundData();
    SoundData(SoundData&& other) noexcept;
    SoundData& operator=(SoundData&& other) noexcept;
    SoundData(const SoundData&) = delete;
    SoundData& operator=(const SoundData&) = delete;

    std::uint64_t frames() const { return frames_; }
    int channels() const { return channels_; }
    int rate() const { return rate_; }
    // Reads every frame into `into`, which holds frames() * channels() floats.
    void read(float* into) const;

private:
    int fd_ = -1;
    std::uint64_t frames_ = 0;
    int channels_ = 0;
    int rate_ = 0;
};

struct Stem {
    int channel = 0; // 1 to 16
    std::string name;
    bool drums = false;
    std::vector<int> programs;
    SoundData audio;
};

struct Rendered {
    SoundData audio;
    int rate = 0;
    double seconds = 0; // the song's own length, without its ring
    // Where every note sounded, in frames of the audio.
    std::vector<renderer::NoteLabel> labels;
    // Measured and applied while levelled; none at the fixed gain.
    std::optional<renderer::Loudness> loudness;
    std::optional<double> gainDb;
    tags::TextTags tags;
    // Why the song was not evened out although asked, or empty.
    std::string notice;
    std::vector<Stem> stems;
};

// Called between blocks with the percentage done; false stops the render with Stopped.
using Progress = std::function<bool(int percent)>;

class ArrayRenderer {
public:
    // Loads nothing until the first song. threads: the budget the song's synthesis draws from
    // (the process's own when null), with at most maxThreads of it (0: as many as pay).
    explicit ArrayRenderer(Settings settings, renderer::ThreadBudget* threads = nullptr,
                           unsigned maxThreads = 0);
    ~ArrayRenderer();

    // Throws renderer::MidiError for a song that cannot be read, FileError for a file that
    // cannot be opened, renderer::SynthError for a SoundFont FluidSynth refuses, Stopped, and
    // RenderFailure for the rest. labels: whether to note where every note sounded, which makes
    // the synthesisers render in FluidSynth's own blocks.
    Rendered render(const MidiInput& midi, bool stems, bool labels, const Progress& progress);
    // Loads the SoundFonts now, so that the first song does not pay for it.
    void load();
    const Settings& settings() const { return settings_; }

private:
    renderer::Synthesizer& synth();
    Rendered renderSong(renderer::MidiFile song, bool stems, bool labels, const Progress& progress);

    Settings settings_;
    renderer::ThreadBudget* threads_;
    unsigned maxThreads_;
    std::unique_ptr<renderer::Synthesizer> synth_;
};

// Throws FileError when the file cannot be opened for reading, or is a folder.
void checkReadable(const std::filesystem::path& file);

// Reads a song as the converter reads it: FileError where the file itself cannot be opened.
renderer::MidiFile readSong(const MidiInput& midi);

} // namespace quillory::python
