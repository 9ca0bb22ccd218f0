// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/Converter.h"

#include "tools/convert/Interrupt.h"
#include "tools/convert/OutputPolicy.h"
#include "tools/convert/Reporter.h"
#include "tools/convert/StemConversion.h"

#include "components/synthesis/ThreadClock.h"

#include <algorithm>
#include <optional>

namespace convert {

namespace fs = std::filesystem;
using quillory::renderer::MidiError;
using quillory::renderer::MidiFile;
using quillory::renderer::Synthesizer;

Converter::Converter(const ConvertSettings& settings, bool force)
    : settings_(settings)
    , force_(force) {
}

Converter::~Converter() = default;

Outcome Converter::convert(const Job& job, const ProgressFn& progress) {
    const double started = quillory::renderer::threadCpuSeconds();
    Outcome outcome = attempt(job, progress);
    outcome.cpuSeconds =
        quillory::renderer::threadCpuSeconds() - started + outcome.facts.threadSeconds;
    return outcome;
}

Outcome Converter::attempt(const Job& job, const ProgressFn& progress) {
    Outcome outcome;
    const bool replace = force_ || job.replace;
    if (job.makeFolder) {
        std::error_code ec;
        fs::create_directories(job.output.parent_path(), ec);
        if (ec) {
            outcome.message = "cannot make the folder \"" + job.output.parent_path().string() +
                              "\": " + ec.message();
            return outcome;
        }
    }
    if (outcome.message = outputRefusal(job.output, replace); !outcome.message.empty())
        return outcome;
    // Claimed before any work, so that a missing or read-only folder is reported as such.
    quillory::output::OutputFile output = outputFor(job.output, replace);
    if (outcome.message = output.create(); !outcome.message.empty())
        return outcome;
    // A device or a pipe is written directly, and never removed.
    std::optional<RemovedOnAbort> temporary;
    if (!output.direct())
        temporary.emplace(output.writePath());
    try {
        run(job, std::move(output), progress, outcome);
    } catch (const Interrupted& stopped) {
        outcome.interrupted = true;
        outcome.message = stopped.what();
        return outcome;
    } catch (const MidiError& error) {
        // The line that reports it names the file already.
        outcome.message = error.problem();
        return outcome;
    } catch (const std::exception& error) {
        outcome.message = error.what();
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

void Converter::run(const Job& job, quillory::output::OutputFile output, const ProgressFn& progress,
                    Outcome& outcome) {
    Facts& facts = outcome.facts;
    if (job.from == InputType::Wav) {
        outcome.message =
            job.to == OutputType::Mp3
                ? wavToMp3(job.input, settings_.mp3, std::move(output), progress, facts)
                : wavToSound(job.input, settings_.sound, settings_.bitsGiven,
                             settings_.channelsGiven, std::move(output), progress, facts);
        return;
    }
    const std::string notice = convertMidi(job, std::move(output), progress, facts);
    if (!notice.empty())
        outcome.message = "not evened out, converted at the fixed volume: " + notice;
}

std::string Converter::convertMidi(const Job& job, quillory::output::OutputFile output,
                                   const ProgressFn& progress, Facts& facts) {
    MidiFile song = MidiFile::read(job.input);
    if (const double seconds = song.lengthMs() / 1000.0; seconds > settings_.maxSeconds)
        throw ConversionError("the song lasts " + readableDuration(seconds) +
                              ", longer than --max-seconds " +
                              std::to_string(settings_.maxSeconds) + " allows");
    Levelling levelling;
    if (settings_.loudness.even)
        levelling.loudness = quillory::renderer::LoudnessTarget{.lufs = settings_.loudness.lufs};
    levelling.workFolder = settings_.workFolder;
    levelling.threads = settings_.threads;
    levelling.maxThreads = settings_.threadsPerSong;
    levelling.split = settings_.split;
    if (job.to == OutputType::Mp3)
        return midiToMp3(std::move(song), synth(settings_.mp3SynthRate), settings_.mp3SynthRate,
                         settings_.mp3, levelling, std::move(output), progress, facts);
    Synthesizer& synthesizer = synth(settings_.sound.sampleRate);
    if (settings_.stems)
        return midiToSoundWithStems(std::move(song), synthesizer, settings_.sound, levelling,
                                    std::move(output), force_ || job.replace, progress, facts);
    return midiToSound(std::move(song), synthesizer, settings_.sound, levelling, std::move(output),
                       progress, facts);
}

// A SoundFont that failed to load fails every MIDI file of this worker with the same reason,
// without trying again for each.
Synthesizer& Converter::synth(int sampleRate) {
    if (!synth_) {
        if (!synthError_.empty())
            throw ConversionError(synthError_);
        if (settings_.soundFont.empty())
            synthError_ = "no SoundFont found; name one with --soundfont";
        else {
            try {
                const int rate =
                    std::clamp(sampleRate, Synthesizer::kMinRate, Synthesizer::kMaxRate);
                synth_ = std::make_unique<Synthesizer>(settings_.soundFont, rate);
                if (settings_.soundFontHold)
                    settings_.soundFontHold->release();
            } catch (const std::exception& error) {
                synthError_ = error.what();
            }
        }
        if (!synth_)
            throw ConversionError(synthError_);
    }
    return *synth_;
}

} // namespace convert
