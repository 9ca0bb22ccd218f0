// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Converts one planned job at a time into its target, through a temporary file beside it. Each
// batch worker owns one Converter, and with it one synthesizer: the SoundFont is loaded the
// first time that worker meets a MIDI file and kept for the rest of the batch.
#pragma once

#include "components/synthesis/Synthesizer.h"
#include "tools/convert/Conversions.h"
#include "tools/convert/ConvertSettings.h"
#include "tools/convert/Plan.h"

#include <memory>
#include <string>

namespace convert {

struct Outcome {
    bool ok = false;
    bool interrupted = false; // stopped by the progress function, not failed
    std::string message;      // why it failed, or a warning about a file that converted
    Facts facts;              // as far as the conversion got
    // Processor seconds of the worker's thread and the threads the conversion started.
    double cpuSeconds = 0;
};

class Converter {
public:
    Converter(const ConvertSettings& settings, bool force);
    ~Converter();

    Outcome convert(const Job& job, const ProgressFn& progress);

private:
    Outcome attempt(const Job& job, const ProgressFn& progress);
    void run(const Job& job, quillory::output::OutputFile output, const ProgressFn& progress,
             Outcome& outcome);
    std::string convertMidi(const Job& job, quillory::output::OutputFile output,
                            const ProgressFn& progress, Facts& facts);
    quillory::renderer::Synthesizer& synth(int sampleRate);

    const ConvertSettings& settings_;
    bool force_;
    std::unique_ptr<quillory::renderer::Synthesizer> synth_;
    std::string synthError_;
};

} // namespace convert
