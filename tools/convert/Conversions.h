// The three conversions the tool makes, each into the output it is given: written beside its
// target and put in place only when complete. Each throws ConversionError (or the engines'
// errors) with a sentence for the user, and then leaves the target as it was.
#pragma once

#include "components/encoder/Mp3Plan.h"
#include "components/output/OutputFile.h"
#include "components/renderer/MidiFile.h"
#include "components/renderer/Synthesizer.h"
#include "components/renderer/WavWriter.h"

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace convert {

class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Called with the whole percentage done whenever it changes; returns false to stop.
using ProgressFn = std::function<bool(int percent)>;

void midiToWav(quillory::renderer::MidiFile song, quillory::renderer::Synthesizer& synth,
               const quillory::renderer::WavFormat& format, quillory::output::OutputFile output,
               const ProgressFn& progress);

// Streams the synthesis straight into the encoder: the synth renders on a second thread while
// this one encodes and writes, with a few blocks between them. No WAV is written on the way.
void midiToMp3(quillory::renderer::MidiFile song, quillory::renderer::Synthesizer& synth,
               int synthRate, const encoder::Mp3Settings& settings,
               quillory::output::OutputFile output, const ProgressFn& progress);

// Returns a warning for the user (a damaged but usable WAV), or an empty string.
std::string wavToMp3(const std::filesystem::path& wav, const encoder::Mp3Settings& settings,
                     quillory::output::OutputFile output, const ProgressFn& progress);

} // namespace convert
