// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The two ways of synthesising a stem per MIDI channel, timed side by side on one song, with the
// ordinary mix as the yardstick:
// - groups: one FluidSynth with an audio group and an effects group per channel
//   (synth.audio-groups = synth.effects-groups = 16), fluid_synth_process handing out every
//   channel's dry signal, reverb and chorus apart; the voices are shared by one synthesiser, the
//   effects run sixteen times on its one thread;
// - synths: one synthesiser per channel that sounds, each with its own reverb and chorus, shared
//   out over the threads, as the converter does.
// Each way also runs with reverb and chorus off, which gives the share of its processor time spent
// in the effects, and reports its memory growth. The two ways' mixes are compared: they differ as
// any two shares of the voices do, by the ramps of new voices in reused slots. Last, the stems are
// kept in float work files and read back, as a levelled song's are, against the time a second
// synthesis of them would take.
//   stem_ways --soundfont FILE [--threads N] [--rate HZ] SONG.mid
#include "components/levelling/FloatIntermediate.h"
#include "components/midi/MidiFile.h"
#include "components/synthesis/ParallelSongRenderer.h"
#include "components/synthesis/SongTail.h"
#include "components/synthesis/StemSynthesis.h"

#include <fluidsynth.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace quillory::renderer;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kChannels = 16;
constexpr std::size_t kBlock = 4096;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double processSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The process's resident set now, in MiB.
double residentMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

void play(fluid_synth_t* synth, const MidiEvent& e) {
    const int ch = e.status & 0x0F;
    switch (e.status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(synth, ch, e.data1);
        break;
    case 0x90:
        fluid_synth_noteon(synth, ch, e.data1, e.data2);
        break;
    case 0xB0:
        fluid_synth_cc(synth, ch, e.data1, e.data2);
        break;
    case 0xC0:
        fluid_synth_program_change(synth, ch, e.data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(synth, ch, e.data1 | (e.data2 << 7));
        break;
    default:
        break;
    }
}

struct Result {
    double seconds = 0;
    double cpu = 0;
    double memory = 0;
    std::vector<float> mixLeft; // the sum of the stems, for the comparison
};

// One synthesiser, a group per channel. Renders the song and its longest tail.
Result groups(const MidiFile& song, const std::string& soundFont, int rate, bool effects,
              int cores) {
    const double before = residentMiB();
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", rate);
    fluid_settings_setnum(settings, "synth.gain", 0.15);
    fluid_settings_setint(settings, "synth.audio-channels", kChannels);
    fluid_settings_setint(settings, "synth.audio-groups", kChannels);
    fluid_settings_setint(settings, "synth.effects-groups", kChannels);
    fluid_settings_setint(settings, "synth.threadsafe-api", 0);
    fluid_settings_setint(settings, "synth.cpu-cores", cores);
    fluid_settings_setint(settings, "synth.reverb.active", effects);
    fluid_settings_setint(settings, "synth.chorus.active", effects);
    fluid_synth_t* synth = new_fluid_synth(settings);
    fluid_synth_sfload(synth, soundFont.c_str(), 1);
    const auto start = Clock::now();
    const double cpuStart = processSeconds();
    const std::uint64_t frames = song.frameAt(song.endTime(), rate) + SongTail::longest(rate);
    // Per channel: dry left and right, then reverb and chorus of its effects group.
    std::vector<std::vector<float>> dry(2 * kChannels, std::vector<float>(kBlock));
    std::vector<std::vector<float>> fx(4 * kChannels, std::vector<float>(kBlock));
    std::vector<float*> dryPtr, fxPtr;
    for (auto& b : dry)
        dryPtr.push_back(b.data());
    for (auto& b : fx)
        fxPtr.push_back(b.data());
    std::vector<float> stem(2 * kBlock);
    Result result;
    result.mixLeft.reserve(frames);
    MidiFile::Cursor cursor(song);
    MidiEvent event;
    bool pending = cursor.next(event);
    for (std::uint64_t at = 0; at < frames;) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(kBlock, frames - at));
        for (auto& b : dry)
            std::fill_n(b.begin(), n, 0.0f);
        for (auto& b : fx)
            std::fill_n(b.begin(), n, 0.0f);
        std::size_t done = 0;
        while (done < n) {
            while (pending && song.frameAt(event.time, rate) <= at + done) {
                play(synth, event);
                pending = cursor.next(event);
            }
            std::size_t until = n;
            if (pending)
                until = std::size_t(std::min<std::uint64_t>(
                    n,
                    std::max<std::uint64_t>(song.frameAt(event.time, rate), at + done + 1) - at));
            std::vector<float*> d, f;
            for (float* p : dryPtr)
                d.push_back(p + done);
            for (float* p : fxPtr)
                f.push_back(p + done);
            fluid_synth_process(synth, int(until - done), int(f.size()), f.data(), int(d.size()),
                                d.data());
            done = until;
        }
        // Each channel's stem: its dry pair and both effects of its group.
        std::vector<float> mix(n, 0.0f);
        for (int ch = 0; ch < kChannels; ++ch)
            for (std::size_t i = 0; i < n; ++i) {
                const float left = dry[2 * ch][i] + fx[4 * ch][i] + fx[4 * ch + 2][i];
                stem[2 * i] = left;
                stem[2 * i + 1] = dry[2 * ch + 1][i] + fx[4 * ch + 1][i] + fx[4 * ch + 3][i];
                mix[i] += left;
            }
        result.mixLeft.insert(result.mixLeft.end(), mix.begin(), mix.end());
        at += n;
    }
    result.seconds = since(start);
    result.cpu = processSeconds() - cpuStart;
    result.memory = residentMiB() - before;
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    return result;
}

// A synthesiser per channel, through the converter's own stem synthesis.
Result synths(const MidiFile& song, const std::string& soundFont, int rate, unsigned threads,
              bool effects) {
    const double before = residentMiB();
    Synthesizer primary(soundFont, rate);
    ThreadBudget budget(threads);
    StemSynthesis stems(song, primary, rate, budget, threads);
    if (!effects)
        stems.setEffects(false);
    const auto start = Clock::now();
    const double cpuStart = processSeconds();
    std::vector<float> left(kBlock), right(kBlock);
    Result result;
    while (const std::size_t n = stems.render(left.data(), right.data(), kBlock))
        result.mixLeft.insert(result.mixLeft.end(), left.begin(), left.begin() + long(n));
    result.seconds = since(start);
    result.cpu = processSeconds() - cpuStart;
    result.memory = residentMiB() - before;
    return result;
}

// How the stems are kept between the passes of a levelled song: each in a float work file, as
// the converter keeps them, written while synthesised and read back once. The seconds it takes
// against a second synthesis of the stems (their first run's time) decide the way.
double keepAndReadBack(const MidiFile& song, const std::string& soundFont, int rate,
                       unsigned threads, const std::filesystem::path& folder) {
    Synthesizer primary(soundFont, rate);
    ThreadBudget budget(threads);
    StemSynthesis stems(song, primary, rate, budget, threads);
    std::vector<std::unique_ptr<FloatIntermediate>> stores;
    std::vector<float> left(kBlock), right(kBlock);
    double kept = 0;
    for (std::size_t n; (n = stems.render(left.data(), right.data(), kBlock)) > 0;) {
        if (stores.empty())
            for (std::size_t i = 0; i < stems.stems().size(); ++i)
                stores.push_back(std::make_unique<FloatIntermediate>(folder));
        const auto start = Clock::now();
        for (std::size_t i = 0; i < stores.size(); ++i)
            stores[i]->write(stems.stemLeft(i), stems.stemRight(i), n);
        kept += since(start);
    }
    const auto start = Clock::now();
    for (auto& store : stores) {
        store->rewind();
        while (store->read(left.data(), right.data(), kBlock) > 0) {
        }
    }
    return kept + since(start);
}

Result mixTime(const MidiFile& song, const std::string& soundFont, int rate, unsigned threads) {
    Synthesizer synth(soundFont, rate);
    ThreadBudget budget(threads);
    ParallelSongRenderer mix(song, synth, rate, budget, threads);
    const auto start = Clock::now();
    const double cpuStart = processSeconds();
    std::vector<float> left(kBlock), right(kBlock);
    while (mix.render(left.data(), right.data(), kBlock) > 0) {
    }
    Result result;
    result.seconds = since(start);
    result.cpu = processSeconds() - cpuStart;
    return result;
}

double rmsDbOfDifference(const std::vector<float>& a, const std::vector<float>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    return 10 * std::log10(std::max(sum / double(std::max<std::size_t>(n, 1)), 1e-30));
}

} // namespace

int main(int argc, char** argv) {
    std::string soundFont, input;
    int rate = 44100;
    unsigned threads = 2;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--soundfont" && i + 1 < argc)
            soundFont = argv[++i];
        else if (arg == "--threads" && i + 1 < argc)
            threads = unsigned(std::atoi(argv[++i]));
        else if (arg == "--rate" && i + 1 < argc)
            rate = std::atoi(argv[++i]);
        else
            input = arg;
    }
    if (soundFont.empty() || input.empty()) {
        std::fprintf(stderr, "usage: stem_ways --soundfont FILE [--threads N] [--rate HZ] SONG\n");
        return 2;
    }
    const MidiFile song = MidiFile::read(input);
    const Result mix = mixTime(song, soundFont, rate, threads);
    const Result g = groups(song, soundFont, rate, true, 1);
    const Result gDry = groups(song, soundFont, rate, false, 1);
    const Result gc = groups(song, soundFont, rate, true, int(threads));
    const Result gcDry = groups(song, soundFont, rate, false, int(threads));
    const Result s = synths(song, soundFont, rate, threads, true);
    const Result sDry = synths(song, soundFont, rate, threads, false);
    std::printf("song %.1f s at %d Hz, %u threads\n", song.lengthMs() / 1000, rate, threads);
    std::printf("%-46s %8s %9s %8s %9s %9s\n", "", "wall", "x mix", "cpu", "effects", "memory");
    std::printf("%-46s %7.2fs %8.2fx %7.2fs\n", "mix (split synthesis)", mix.seconds, 1.0, mix.cpu);
    // The effects' share is of the processor time, which a loaded machine does not skew.
    const auto row = [&](const char* name, const Result& on, const Result& off) {
        std::printf("%-46s %7.2fs %8.2fx %7.2fs %8.0f%% %6.0f MiB\n", name, on.seconds,
                    on.seconds / mix.seconds, on.cpu, 100 * (on.cpu - off.cpu) / on.cpu, on.memory);
    };
    row("stems: one synthesiser, a group per channel", g, gDry);
    row("  the same with synth.cpu-cores = threads", gc, gcDry);
    row("stems: a synthesiser per channel", s, sDry);
    const double kept =
        keepAndReadBack(song, soundFont, rate, threads, std::filesystem::temp_directory_path());
    std::printf("levelled stems kept between the passes: float work files %.2f s (written and "
                "read back), a second synthesis %.2f s\n",
                kept, s.seconds);
    std::printf("the two ways' mixes differ by %.1f dBFS RMS (left channel)\n",
                rmsDbOfDifference(g.mixLeft, s.mixLeft));
    return 0;
}
