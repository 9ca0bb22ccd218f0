// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What judging a lossy file as decoded costs: each song converted to the format as quillory-convert
// converts it, levelled to -16 LUFS, once with the check (each take decoded and measured, and made
// again where it misses) and once without it (the first take only), one after the other, with the
// wall and processor time of each, the takes the check needed and what the kept file measured.
// The SoundFont is loaded before any timing.
//   lossy_check --soundfont FILE --format mp3|ogg|opus WORK_FOLDER SONG.mid...
#include "components/conversion/Conversions.h"
#include "components/midi/MidiFile.h"
#include "components/synthesis/Synthesizer.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace quillory::renderer;
using Clock = std::chrono::steady_clock;

namespace {

double processSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

struct Timed {
    double wall = 0;
    double cpu = 0;
    quillory::conversion::Facts facts;
};

Timed convertOnce(const fs::path& song, const std::string& format, Synthesizer& synth,
                  const fs::path& work, bool check) {
    quillory::conversion::Levelling levelling;
    levelling.loudness = LoudnessTarget{};
    levelling.workFolder = work;
    levelling.judgeDecoded = check;
    const fs::path out = work / ("out." + format);
    Timed timed;
    const auto start = Clock::now();
    const double cpu = processSeconds();
    if (format == "mp3") {
        quillory::conversion::midiToMp3(MidiFile::read(song), synth, 44100, {}, levelling, out, {},
                                        timed.facts);
    } else {
        const SoundFormat sound{SoundFormat::kOpusRate, 16, 2,
                                format == "ogg" ? Container::Vorbis : Container::Opus};
        quillory::conversion::midiToSound(MidiFile::read(song), synth, sound, levelling, out, {},
                                          timed.facts);
    }
    timed.wall = std::chrono::duration<double>(Clock::now() - start).count();
    timed.cpu = processSeconds() - cpu;
    fs::remove(out);
    return timed;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 7 || std::strcmp(argv[1], "--soundfont") != 0 ||
        std::strcmp(argv[3], "--format") != 0) {
        std::fprintf(stderr, "usage: lossy_check --soundfont FILE --format mp3|ogg|opus "
                             "WORK_FOLDER SONG.mid...\n");
        return 2;
    }
    const std::string format = argv[4];
    const fs::path work = argv[5];
    Synthesizer synth(argv[2], format == "mp3" ? 44100 : SoundFormat::kOpusRate);
    double wall[2] = {0, 0}, cpu[2] = {0, 0};
    std::printf("%-5s %-14s %7s %19s %27s %16s\n", format.c_str(), "song", "length",
                "without: wall cpu", "with: wall cpu takes", "LUFS dBTP");
    for (int i = 6; i < argc; ++i) {
        const fs::path song = argv[i];
        const Timed without = convertOnce(song, format, synth, work, false);
        const Timed with = convertOnce(song, format, synth, work, true);
        wall[0] += without.wall;
        cpu[0] += without.cpu;
        wall[1] += with.wall;
        cpu[1] += with.cpu;
        std::printf("%-5s %-14s %6.0fs %9.2fs %8.2fs %9.2fs %8.2fs %3d %8.2f %7.2f\n",
                    format.c_str(), song.filename().c_str(), with.facts.seconds, without.wall,
                    without.cpu, with.wall, with.cpu, with.facts.takes,
                    with.facts.loudness->integratedLufs, with.facts.loudness->truePeakDbtp);
    }
    std::printf("%-5s all: without the check %.1f s (cpu %.1f s), with it %.1f s (cpu %.1f s): "
                "%.3fx the wall time, %.3fx the processor time\n",
                format.c_str(), wall[0], cpu[0], wall[1], cpu[1], wall[1] / wall[0],
                cpu[1] / cpu[0]);
    return 0;
}
