// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Converts one planned job at a time into its target, through a temporary file beside it. Each
// batch worker owns one Converter, and with it one synthesizer: the SoundFont is loaded the
// first time that worker meets a MIDI file and kept for the rest of the batch. A job is claimed
// (Claim.h) before anything else: a target that another running process converts is left to it.
#pragma once

#include "components/conversion/Conversions.h"
#include "components/output/Claim.h"
#include "components/synthesis/Synthesizer.h"
#include "tools/convert/ConvertSettings.h"
#include "tools/convert/Plan.h"
#include "tools/convert/Resume.h"

#include <memory>
#include <string>

namespace convert {

namespace conversion = quillory::conversion;

struct Outcome {
    bool ok = false;
    bool interrupted = false; // stopped by the progress function, not failed
    bool skipped = false;     // left as it is: another process converts it, or it is complete
    std::string message; // why it failed or was skipped, or a warning about a file that converted
    conversion::Facts facts; // as far as the conversion got
    // Processor seconds of the worker's thread and the threads the conversion started.
    double cpuSeconds = 0;
};

class Converter {
public:
    // With resume, an output that is complete already, or that appears complete while it is
    // converted, is left as it is.
    Converter(const ConvertSettings& settings, bool force, const Resume* resume = nullptr);
    ~Converter();

    Outcome convert(const Job& job, const conversion::ProgressFn& progress);

private:
    Outcome attempt(Job job, const conversion::ProgressFn& progress);
    // Why the job is left as it is, or empty when it is to be converted.
    std::string leftAsItIs(Job& job, const quillory::output::Claim& claim) const;
    // Whether the job converted; what it threw goes into the outcome.
    bool runCaught(const Job& job, quillory::output::OutputFile output,
                   quillory::output::Claim& claim, const conversion::ProgressFn& progress,
                   Outcome& outcome);
    void run(const Job& job, quillory::output::OutputFile output, quillory::output::Claim& claim,
             const conversion::ProgressFn& progress, Outcome& outcome);
    std::string convertWav(const Job& job, const conversion::WavInput& wav,
                           quillory::output::OutputFile output,
                           const conversion::ProgressFn& progress, conversion::Facts& facts);
    std::string convertMidi(const Job& job, quillory::output::OutputFile output,
                            quillory::output::Claim& claim, const conversion::ProgressFn& progress,
                            conversion::Facts& facts);
    void writeAllLabels(const std::filesystem::path& output, conversion::LabelForm form,
                        conversion::Facts& facts) const;
    quillory::renderer::Synthesizer& synth(int sampleRate);
    StandardInput& standardInput() const;

    const ConvertSettings& settings_;
    bool force_;
    const Resume* resume_;
    std::unique_ptr<quillory::renderer::Synthesizer> synth_;
    std::string synthError_;
};

} // namespace convert
