// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Command-line driver of the renderer engine for the benchmarks: renders one MIDI file to WAV
// the way the program does, block by block, evened out to -16 LUFS unless --loudness says
// otherwise (its work file in the system's temporary folder or --work-folder), and prints the
// song length and the time taken.
#include "components/levelling/LoudnessChoice.h"
#include "components/renderer/RenderJob.h"
#include "components/synthesis/SoundFontSearch.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace quillory::renderer;

namespace {

int usage() {
    std::fprintf(stderr, "usage: render_midi [--rate HZ] [--bits 8|16] [--channels 1|2] "
                         "[--soundfont FILE] [--loudness LUFS|off] [--work-folder DIR] "
                         "INPUT.mid OUTPUT.wav\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    SoundFormat format;
    RenderOptions options;
    options.loudness = LoudnessTarget{};
    std::filesystem::path soundFont;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--rate" && hasValue)
            format.sampleRate = std::atoi(argv[++i]);
        else if (arg == "--bits" && hasValue)
            format.bitsPerSample = std::atoi(argv[++i]);
        else if (arg == "--channels" && hasValue)
            format.channels = std::atoi(argv[++i]);
        else if (arg == "--soundfont" && hasValue)
            soundFont = argv[++i];
        else if (arg == "--loudness" && hasValue) {
            const auto choice = LoudnessChoice::parse(argv[++i]);
            if (!choice)
                return usage();
            options.loudness =
                choice->even ? std::optional(LoudnessTarget{.lufs = choice->lufs}) : std::nullopt;
        } else if (arg == "--work-folder" && hasValue)
            options.workFolder = argv[++i];
        else if (!arg.starts_with("--"))
            files.push_back(arg);
        else
            return usage();
    }
    if (files.size() != 2)
        return usage();
    if (soundFont.empty())
        soundFont = findSoundFont(std::filesystem::path(argv[0]).parent_path());
    try {
        const auto start = std::chrono::steady_clock::now();
        Synthesizer synth(soundFont, format.sampleRate);
        RenderJob job(MidiFile::read(files[0]), synth, std::filesystem::path(files[1]), format,
                      options);
        const double lengthMs = job.song().lengthMs();
        while (job.render(RenderJob::kMaxBlockFrames) > 0) {
        }
        job.close();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("%s: %.3f s of song, %llu frames written in %.3f s\n", files[0].c_str(),
                    lengthMs / 1000.0, static_cast<unsigned long long>(job.framesWritten()),
                    took.count());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "render_midi: %s\n", e.what());
        return 1;
    }
    return 0;
}
