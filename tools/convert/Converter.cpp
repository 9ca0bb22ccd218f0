// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/Converter.h"

#include "tools/convert/OutputPolicy.h"
#include "tools/convert/Reporter.h"
#include "tools/convert/StandardStreams.h"

#include "components/conversion/AbortList.h"
#include "components/conversion/LabelFile.h"
#include "components/conversion/StemConversion.h"
#include "components/synthesis/ThreadClock.h"
#include "platform/ShownName.h"

#include <algorithm>
#include <optional>

namespace convert {

namespace fs = std::filesystem;
using quillory::conversion::ConversionError;
using quillory::conversion::Facts;
using quillory::conversion::Interrupted;
using quillory::conversion::LabelForm;
using quillory::conversion::Levelling;
using quillory::conversion::ProgressFn;
using quillory::conversion::RemovedOnAbort;
using quillory::conversion::StemFact;
using quillory::conversion::WavInput;
using quillory::renderer::MidiError;
using quillory::renderer::MidiFile;
using quillory::renderer::Synthesizer;

namespace {

struct RemovedAfter {
    fs::path file;
    ~RemovedAfter() {
        std::error_code ignored;
        fs::remove(file, ignored);
    }
};

} // namespace

Converter::Converter(const ConvertSettings& settings, bool force, const Resume* resume)
    : settings_(settings)
    , force_(force)
    , resume_(resume) {
}

Converter::~Converter() = default;

Outcome Converter::convert(const Job& job, const ProgressFn& progress) {
    const double started = quillory::renderer::threadCpuSeconds();
    Outcome outcome = attempt(job, progress);
    outcome.cpuSeconds =
        quillory::renderer::threadCpuSeconds() - started + outcome.facts.threadSeconds;
    return outcome;
}

Outcome Converter::attempt(Job job, const ProgressFn& progress) {
    Outcome outcome;
    // Standard output is no file: nothing to claim, to judge or to put in place.
    if (isStandardStream(job.output)) {
        quillory::output::Claim unclaimed;
        runCaught(
            job,
            quillory::output::OutputFile::stream(settings_.standardOutput, kStandardOutputName),
            unclaimed, progress, outcome);
        return outcome;
    }
    if (job.makeFolder) {
        std::error_code ec;
        fs::create_directories(job.output.parent_path(), ec);
        if (ec) {
            outcome.message = "cannot make the folder " +
                              platform::Quoted(job.output.parent_path()) + ": " + ec.message();
            return outcome;
        }
    }
    // Before the output is judged, so that what this process finds stays so while it works.
    quillory::output::Claim claim = quillory::output::Claim::take(job.output);
    if (outcome.message = leftAsItIs(job, claim); !outcome.message.empty()) {
        outcome.skipped = true;
        return outcome;
    }
    std::error_code ec;
    const bool existed = fs::exists(fs::symlink_status(job.output, ec));
    const bool replace = force_ || job.replace;
    if (outcome.message = outputRefusal(job.output, replace); !outcome.message.empty())
        return outcome;
    // Created before any work, so that a missing or read-only folder is reported as such.
    quillory::output::OutputFile output = outputFor(job.output, replace);
    if (outcome.message = output.create(); !outcome.message.empty())
        return outcome;
    if (!claim.held()) {
        outcome.message = claim.why();
        return outcome;
    }
    const RemovedOnAbort claimed(quillory::output::claimPath(job.output));
    // A device or a pipe is written directly, and never removed.
    std::optional<RemovedOnAbort> temporary;
    if (!output.direct())
        temporary.emplace(output.writePath());
    if (!runCaught(job, std::move(output), claim, progress, outcome) && !outcome.interrupted) {
        // Someone else's output that appeared meanwhile, complete, is as good as this one.
        if (resume_ && !existed && fs::exists(fs::symlink_status(job.output, ec)))
            if (const std::string reason = resume_->complete(job); !reason.empty()) {
                outcome.skipped = true;
                outcome.message = reason + " (it appeared while this run converted it)";
            }
    }
    return outcome;
}

bool Converter::runCaught(const Job& job, quillory::output::OutputFile output,
                          quillory::output::Claim& claim, const ProgressFn& progress,
                          Outcome& outcome) {
    try {
        run(job, std::move(output), claim, progress, outcome);
    } catch (const Interrupted& stopped) {
        outcome.interrupted = true;
        outcome.message = stopped.what();
        return false;
    } catch (const MidiError& error) {
        // The line that reports it names the file already.
        outcome.message = error.problem();
        return false;
    } catch (const std::exception& error) {
        outcome.message = error.what();
        return false;
    }
    outcome.ok = true;
    return true;
}

std::string Converter::leftAsItIs(Job& job, const quillory::output::Claim& claim) const {
    if (claim.status() == quillory::output::Claim::Status::Busy)
        return "another process is converting it (" + claim.why() + ")";
    return resume_ ? resume_->complete(job) : std::string();
}

void Converter::run(const Job& job, quillory::output::OutputFile output,
                    quillory::output::Claim& claim, const ProgressFn& progress, Outcome& outcome) {
    Facts& facts = outcome.facts;
    if (job.from == InputType::Wav && isStandardStream(job.input)) {
        // libsndfile reads a WAV from a file, so standard input is copied into one first.
        const fs::path copy =
            (settings_.workFolder.empty() ? fs::temp_directory_path() : settings_.workFolder) /
            "__qlr_stdin.wav";
        const RemovedOnAbort removedOnAbort(copy);
        const RemovedAfter removed{copy};
        standardInput().copyWav(copy, progress);
        outcome.message =
            convertWav(job, WavInput(copy, kStandardInputName), std::move(output), progress, facts);
        return;
    }
    if (job.from == InputType::Wav) {
        outcome.message = convertWav(job, job.input, std::move(output), progress, facts);
        return;
    }
    const std::string notice = convertMidi(job, std::move(output), claim, progress, facts);
    if (settings_.labels)
        writeAllLabels(job.output, *settings_.labels, facts);
    if (!notice.empty())
        outcome.message = "not evened out, converted at the fixed volume: " + notice;
}

// The song's labels beside its output, and each stem's beside the stem.
void Converter::writeAllLabels(const fs::path& output, LabelForm form, Facts& facts) const {
    const auto write = [&](const fs::path& beside, const auto& notes) {
        const fs::path file = conversion::labelPathFor(beside, form);
        const std::string text =
            conversion::labelText(notes, facts.sampleRate, facts.labelScale, form);
        if (const std::string failed = conversion::writeLabels(file, text); !failed.empty())
            throw ConversionError("the labels " + platform::Quoted(file) +
                                  " were not written: " + failed);
        return file;
    };
    facts.labelsFile = write(output, facts.labels);
    for (const StemFact& stem : facts.stems)
        write(stem.file, stem.labels);
}

std::string Converter::convertWav(const Job& job, const WavInput& wav,
                                  quillory::output::OutputFile output, const ProgressFn& progress,
                                  Facts& facts) {
    return job.to == OutputType::Mp3
               ? conversion::wavToMp3(wav, settings_.mp3, std::move(output), progress, facts)
               : conversion::wavToSound(wav, settings_.sound, settings_.bitsGiven,
                                        settings_.channelsGiven, std::move(output), progress,
                                        facts);
}

std::string Converter::convertMidi(const Job& job, quillory::output::OutputFile output,
                                   quillory::output::Claim& claim, const ProgressFn& progress,
                                   Facts& facts) {
    MidiFile song =
        isStandardStream(job.input) ? standardInput().midi(progress) : MidiFile::read(job.input);
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
    levelling.labels = settings_.labels.has_value();
    if (job.to == OutputType::Mp3)
        return conversion::midiToMp3(std::move(song), synth(settings_.mp3SynthRate),
                                     settings_.mp3SynthRate, settings_.mp3, levelling,
                                     std::move(output), progress, facts);
    Synthesizer& synthesizer = synth(settings_.sound.sampleRate);
    if (settings_.stems)
        return conversion::midiToSoundWithStems(std::move(song), synthesizer, settings_.sound,
                                                levelling, std::move(output), claim,
                                                force_ || job.replace, progress, facts);
    return conversion::midiToSound(std::move(song), synthesizer, settings_.sound, levelling,
                                   std::move(output), progress, facts);
}

StandardInput& Converter::standardInput() const {
    if (!settings_.standardInput)
        throw ConversionError(std::string(kStandardInputName) + " was not read");
    return *settings_.standardInput;
}

// A SoundFont that failed to load fails every MIDI file of this worker with the same reason,
// without trying again for each.
Synthesizer& Converter::synth(int sampleRate) {
    if (!synth_) {
        if (!synthError_.empty())
            throw ConversionError(synthError_);
        if (settings_.soundFonts.empty())
            synthError_ = "no SoundFont found; name one with --soundfont";
        else {
            try {
                const int rate =
                    std::clamp(sampleRate, Synthesizer::kMinRate, Synthesizer::kMaxRate);
                synth_ = std::make_unique<Synthesizer>(settings_.soundFonts, rate);
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
