// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The settings a batch runs with: the program's options.ini (or the one named with --settings),
// the command line's overrides on top, and the SoundFont to play MIDI with.
#pragma once

#include "components/encoder/Mp3Plan.h"
#include "components/levelling/LoudnessChoice.h"
#include "components/output/SoundWriter.h"
#include "components/synthesis/NotePlan.h"
#include "components/synthesis/Synthesizer.h"
#include "components/synthesis/ThreadBudget.h"
#include "tools/convert/Options.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace convert {

namespace conversion = quillory::conversion;

class StandardInput;

// The SoundFonts named with --soundfont, loaded to see that they can be, and held until a worker's
// synthesiser holds its samples: from then on FluidSynth's cache shares them from there, and the
// hold's own preset tables (about 8 MiB, which a split song would carry beside its synthesisers'
// own) are let go.
class SoundFontHold {
public:
    explicit SoundFontHold(std::shared_ptr<quillory::renderer::FluidInstance> loaded)
        : loaded_(std::move(loaded)) {}
    void release() {
        const std::lock_guard lock(mutex_);
        loaded_.reset();
    }

private:
    std::mutex mutex_;
    std::shared_ptr<quillory::renderer::FluidInstance> loaded_;
};

struct ConvertSettings {
    OutputType output = OutputType::Wav;
    // Every output but MP3: the WAV settings, or the FLAC, Ogg Vorbis or Opus ones.
    quillory::renderer::SoundFormat sound;
    // Whether --bits chose the depth; otherwise a WAV input keeps its own where it can.
    bool bitsGiven = false;
    bool channelsGiven = false;
    bool stems = false;
    std::optional<conversion::LabelForm> labels;
    // The longest song converted (--max-seconds).
    int maxSeconds = 14400;
    // Like the program, MIDI for an MP3 is synthesised at 44100 Hz stereo unless --rate says
    // otherwise.
    int mp3SynthRate = 44100;
    encoder::Mp3Settings mp3;
    // The SoundFonts MIDI is played with, the first searched first; empty when none was
    // named or found.
    quillory::renderer::SoundFontStack soundFonts;
    std::shared_ptr<SoundFontHold> soundFontHold; // with --soundfont
    quillory::renderer::LoudnessChoice loudness;
    // Where levelled songs keep their float copy: the batch's own folder in the work folder
    // (the system's temporary folder when empty).
    std::filesystem::path workFolder;
    // The threads all synthesis of the batch draws from (the process's own budget when null),
    // and the most one song may take: the batch shares the cores between its workers.
    quillory::renderer::ThreadBudget* threads = nullptr;
    unsigned threadsPerSong = 0;
    // Whether a song takes every thread it is given or only as many as pay.
    quillory::renderer::SplitPolicy split = quillory::renderer::SplitPolicy::WherePays;
    // What the input "-" reads, and the descriptor that the output "-" writes (the process's
    // standard output, set aside for the audio alone); -1 without one.
    std::shared_ptr<StandardInput> standardInput;
    int standardOutput = -1;
};

struct ResolvedSettings {
    ConvertSettings settings;
    std::string error; // a usage error when not empty
};

// The options.ini that the program in programFolder reads at start-up now: the user's own once
// it exists, the one beside an installed program until then.
std::filesystem::path programSettingsFile(const std::filesystem::path& programFolder);

// defaultSettingsFile is where the program keeps options.ini; a missing default file means the
// defaults, while a file named with --settings must exist. programFolder is where the SoundFont
// search starts when neither the command line nor the settings name one.
ResolvedSettings resolveSettings(const Options& options,
                                 const std::filesystem::path& defaultSettingsFile,
                                 const std::filesystem::path& programFolder);

} // namespace convert
