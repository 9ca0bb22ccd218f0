#include "tools/convert/Converter.h"

#include "tools/convert/OutputFile.h"

#include <algorithm>

namespace convert {

namespace fs = std::filesystem;
using quillory::renderer::MidiFile;
using quillory::renderer::Synthesizer;

Converter::Converter(const ConvertSettings& settings, bool force)
    : settings_(settings)
    , force_(force) {
}

Converter::~Converter() = default;

Outcome Converter::convert(const Job& job, const ProgressFn& progress) {
    Outcome outcome;
    OutputFile output(job.output, force_);
    if (outcome.message = output.prepare(); !outcome.message.empty())
        return outcome;
    try {
        run(job, output.temporary(), progress, outcome);
    } catch (const std::exception& error) {
        outcome.message = error.what();
        return outcome;
    }
    if (std::string failure = output.commit(); !failure.empty()) {
        outcome.message = std::move(failure);
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

void Converter::run(const Job& job, const fs::path& output, const ProgressFn& progress,
                    Outcome& outcome) {
    if (job.from == InputType::Wav) {
        outcome.message = wavToMp3(job.input, settings_.mp3, output, progress);
        return;
    }
    MidiFile song = MidiFile::read(job.input);
    if (job.to == OutputType::Wav) {
        midiToWav(std::move(song), synth(settings_.wav.sampleRate), settings_.wav, output,
                  progress);
    } else {
        midiToMp3(std::move(song), synth(settings_.mp3SynthRate), settings_.mp3SynthRate,
                  settings_.mp3, output, progress);
    }
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
