// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What evening out the loudness costs: renders one MIDI file to a 16-bit WAV with the renderer's
// own RenderJob, at the fixed gain (loudness Off) and levelled to -16 LUFS (measured into the
// float work file, true peak checked where it can matter, written with its gain), as the batch
// converter does and as the window does (which also keeps a fixed-gain WAV for a Stop while it
// synthesises). Prints wall and processor time of each, best of N alternating runs, their
// ratios to Off, and what the levelling measured.
//   loudness_pass [--rate HZ] [--soundfont FILE] [--runs N] INPUT.mid WORK_FOLDER
#include "components/renderer/RenderJob.h"
#include "components/synthesis/SoundFontSearch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

using namespace quillory::renderer;

namespace {

struct Run {
    double wall = 0;
    double cpu = 0; // processor time of the whole process: this program has one thread
    std::string what;
};

enum class Mode { Off, Levelled, Stoppable };

Run render(const MidiFile& song, Synthesizer& synth, int rate, Mode mode,
           const std::filesystem::path& folder) {
    const auto wallStart = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    RenderOptions options;
    options.workFolder = folder;
    if (mode != Mode::Off)
        options.loudness = LoudnessTarget{};
    options.stoppable = mode == Mode::Stoppable;
    RenderJob job(song, synth, folder / "out.wav", {.sampleRate = rate}, options);
    std::string what;
    while (job.render(RenderJob::kMaxBlockFrames) > 0) {
        if (const LevelledSource* levelling = job.levelling();
            levelling && levelling->pass() == LevelledSource::Pass::Levelled && what.empty()) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "%.1f LUFS, %.1f dBTP, gain %+.1f dB, %.1f %% of the song checked",
                          levelling->measured().integratedLufs, levelling->measured().truePeakDbtp,
                          levelling->gainDb(),
                          100.0 * double(levelling->framesChecked()) /
                              double(std::max<std::uint64_t>(levelling->frames(), 1)));
            what = text;
        }
    }
    job.close();
    Run run;
    run.cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    run.what = what;
    return run;
}

void keepBest(Run& best, const Run& run) {
    if (best.cpu == 0 || run.cpu < best.cpu)
        best.cpu = run.cpu;
    if (best.wall == 0 || run.wall < best.wall)
        best.wall = run.wall;
    best.what = run.what;
}

int usage() {
    std::fprintf(stderr, "usage: loudness_pass [--rate HZ] [--soundfont FILE] [--runs N] "
                         "INPUT.mid WORK_FOLDER\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int rate = 44100;
    int runs = 3;
    std::filesystem::path soundFont;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--rate" && hasValue)
            rate = std::atoi(argv[++i]);
        else if (arg == "--soundfont" && hasValue)
            soundFont = argv[++i];
        else if (arg == "--runs" && hasValue)
            runs = std::max(1, std::atoi(argv[++i]));
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
        const MidiFile song = MidiFile::read(files[0]);
        const std::filesystem::path folder = files[1];
        Synthesizer synth(soundFont, rate);
        Run off, levelled, stoppable;
        // Alternating runs, best of each, so a busy moment of the machine hits all alike.
        for (int run = 0; run < runs; ++run) {
            keepBest(off, render(song, synth, rate, Mode::Off, folder));
            keepBest(levelled, render(song, synth, rate, Mode::Levelled, folder));
            keepBest(stoppable, render(song, synth, rate, Mode::Stoppable, folder));
        }
        std::filesystem::remove(folder / "out.wav");
        std::printf("%s: %.1f s of song at %d Hz, best of %d runs; %s\n", files[0].c_str(),
                    song.lengthMs() / 1000.0, rate, runs, levelled.what.c_str());
        std::printf("  %-32s wall %7.3f s  cpu %7.3f s\n", "Off (fixed gain)", off.wall, off.cpu);
        std::printf("  %-32s wall %7.3f s  cpu %7.3f s  ratio wall %.3fx cpu %.3fx\n",
                    "levelled (batch converter)", levelled.wall, levelled.cpu,
                    levelled.wall / off.wall, levelled.cpu / off.cpu);
        std::printf("  %-32s wall %7.3f s  cpu %7.3f s  ratio wall %.3fx cpu %.3fx\n",
                    "levelled, stoppable (window)", stoppable.wall, stoppable.cpu,
                    stoppable.wall / off.wall, stoppable.cpu / off.cpu);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "loudness_pass: %s\n", e.what());
        return 1;
    }
    return 0;
}
