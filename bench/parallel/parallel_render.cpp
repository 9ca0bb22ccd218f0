// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Command-line driver for the parallel synthesis benchmark. Renders one MIDI file to a 16-bit
// stereo WAV exactly as quillory-convert does (RenderJob: levelled to -16 LUFS unless told
// otherwise, the split synthesis as it pays), or on one synthesiser, or split over every thread,
// and prints where the time went: the song's set-up, the synthesis, the check and the output
// pass, the instances' estimated work against the processor time they really took, and what
// bounds the render. --calibrate measures, on this machine, what one synthesiser costs per second
// with no voice (mixing, reverb and chorus), and per voice-second of the cost model on a given
// song (a generated one: the real songs are what the estimate is checked on), which turns the
// estimates into seconds; --stops times how soon a split render ends when it is dropped half-way.
#include "components/midi/SongTags.h"
#include "components/renderer/RenderJob.h"
#include "components/synthesis/ParallelSongRenderer.h"
#include "components/synthesis/SongRenderer.h"
#include "components/synthesis/ThreadClock.h"
#include "components/synthesis/UsableCores.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

using namespace quillory::renderer;
using Clock = std::chrono::steady_clock;

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: parallel_render [--single | --split] [--threads N] [--rate HZ] "
                 "[--loudness off] --soundfont FILE INPUT.mid OUTPUT.wav\n"
                 "       parallel_render --stops N --soundfont FILE INPUT.mid OUTPUT.wav\n"
                 "       parallel_render --calibrate [--rate HZ] --soundfont FILE SONG.mid\n");
    return 2;
}

double seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Processor seconds per second of audio of one synthesiser with no voice: its mixing, reverb and
// chorus. Best of three.
double instancePerSecond(const std::filesystem::path& soundFont, int rate) {
    Synthesizer synth(soundFont, rate);
    synth.prepare(rate);
    std::vector<float> left(4096), right(4096);
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const double before = threadCpuSeconds();
        for (int block = 0; block < rate * 2 / 4096; ++block)
            synth.render(left.data(), right.data(), 4096);
        best = std::min(best, (threadCpuSeconds() - before) / 2.0);
    }
    return best;
}

// What a voice costs on this machine, from a song rendered on one synthesiser: its processor
// time less the instance's own, over the voice-seconds the cost model gives its notes. Best of
// three, like the instance: a busy moment of a shared machine only ever makes it slower.
int calibrate(const std::filesystem::path& soundFont, int rate, const std::string& file) {
    const double instance = instancePerSecond(soundFont, rate);
    const MidiFile song = MidiFile::read(file);
    Synthesizer synth(soundFont, rate);
    const SongLoad load(song, rate, [&synth](const MidiEvent& e) { return synth.weigh(e); });
    std::vector<float> left(4096), right(4096);
    double took = 1e9;
    for (int round = 0; round < 3; ++round) {
        SongRenderer renderer(song, synth, rate);
        const double before = threadCpuSeconds();
        while (renderer.render(left.data(), right.data(), 4096) > 0) {
        }
        took = std::min(took, threadCpuSeconds() - before);
    }
    const double perVoice = (took - instance * load.seconds()) / load.voiceSeconds();
    std::printf("instance %.3f ms per second, voice %.4f ms per second on %s: an instance costs "
                "as much as %.1f voices (kInstanceVoices %.1f)\n",
                instance * 1e3, perVoice * 1e3, file.c_str(), instance / perVoice, kInstanceVoices);
    std::printf("voice-second %.6f s\n", perVoice);
    return 0;
}

// Starts the split render on a worker thread, as the window does, stops it part-way and times
// how long the render takes to end: the block in hand, the instances joined. Putting the WAV in
// place (flushed to the disk) is not timed: the window does that on a thread of its own.
// The render is told of the stop, as the window's is: a stop in the first block gives up
// weighing the notes for a split. Those stops are timed apart.
void timeStops(int stops, const std::filesystem::path& soundFont, const MidiFile& song,
               const std::filesystem::path& out, int firstMs, int stepMs, const char* when) {
    Synthesizer synth(soundFont, 44100);
    const SoundFormat format{44100, 16, 2};
    double worst = 0, sum = 0;
    for (int i = 0; i < stops; ++i) {
        std::atomic<bool> stop{false};
        Clock::time_point ended;
        std::thread worker([&] {
            SoundWriter writer(quillory::output::OutputFile(out), format,
                               SongRenderer::maxFrames(song, 44100));
            {
                ParallelSongRenderer source(song, synth, 44100, ThreadBudget::shared(), 0,
                                            SplitPolicy::WherePays, &stop);
                std::vector<float> left(1024), right(1024);
                while (!stop) {
                    const std::size_t frames = source.render(left.data(), right.data(), 1024);
                    if (frames == 0)
                        break;
                    writer.write(left.data(), right.data(), frames);
                }
            }
            ended = Clock::now();
            writer.close();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(firstMs + stepMs * i));
        const auto start = Clock::now();
        stop = true;
        worker.join();
        const double took = std::chrono::duration<double>(ended - start).count() * 1e3;
        worst = std::max(worst, took);
        sum += took;
    }
    std::printf("stop of a split render %s: mean %.2f ms, worst %.2f ms over %d stops\n", when,
                sum / stops, worst, stops);
}

struct Phases {
    double setup = 0;     // from the first render() to the first frames back
    double synthesis = 0; // the rest of the first pass
    double check = 0;     // reading back where the true peak may be
    double output = 0;    // the levelled song written
};

Phases run(RenderJob& job) {
    Phases phases;
    auto mark = Clock::now();
    bool started = false;
    auto pass = LevelledSource::Pass::Measuring;
    while (job.render(RenderJob::kMaxBlockFrames) > 0) {
        if (!started) {
            phases.setup = seconds(mark);
            mark = Clock::now();
            started = true;
        }
        const auto now = job.levelling() ? job.levelling()->pass() : pass;
        if (now != pass) {
            (pass == LevelledSource::Pass::Measuring ? phases.synthesis : phases.check) +=
                seconds(mark);
            mark = Clock::now();
            pass = now;
        }
    }
    job.close();
    (pass == LevelledSource::Pass::Measuring ? phases.synthesis : phases.output) += seconds(mark);
    return phases;
}

// The estimated work of each instance against what its thread took, and what bounds the render.
void report(const ParallelSongRenderer& source, double voiceSecond, const Phases& phases) {
    std::printf("instances %d\n", source.instances());
    const std::vector<double> work = source.laneWork();
    const std::vector<double> used = source.laneSeconds();
    double worst = 0;
    for (std::size_t i = 0; i < work.size() && i < used.size(); ++i) {
        const double estimate =
            (fixedVoices(int(i), source.sharesEffects()) * source.load()->seconds() + work[i]) *
            voiceSecond;
        const double off = used[i] / estimate - 1.0;
        worst = std::max(worst, std::abs(off));
        std::printf("lane %zu: estimated %.2f s, took %.2f s (%+.0f%%)\n", i, estimate, used[i],
                    100 * off);
    }
    if (!work.empty())
        std::printf("estimate off by at most %.0f%%\n", 100 * worst);
    const double longest = used.empty() ? 0 : *std::max_element(used.begin(), used.end());
    std::printf("set-up %.2f s, synthesis %.2f s (busiest instance %.2f s), check %.2f s, output "
                "%.2f s\n",
                phases.setup, phases.synthesis, longest, phases.check, phases.output);
}

} // namespace

int main(int argc, char** argv) {
    unsigned threads = usableCores();
    SplitPolicy policy = SplitPolicy::WherePays;
    int rate = 44100;
    bool levelled = true;
    bool calibration = false;
    double voiceSecond = 0;
    std::filesystem::path soundFont;
    int stops = 0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--single")
            threads = 1;
        else if (arg == "--split")
            policy = SplitPolicy::Always;
        else if (arg == "--threads" && hasValue)
            threads = unsigned(std::atoi(argv[++i]));
        else if (arg == "--rate" && hasValue)
            rate = std::atoi(argv[++i]);
        else if (arg == "--loudness" && hasValue && std::string(argv[i + 1]) == "off")
            levelled = (++i, false);
        else if (arg == "--stops" && hasValue)
            stops = std::atoi(argv[++i]);
        else if (arg == "--voice-second" && hasValue)
            voiceSecond = std::atof(argv[++i]);
        else if (arg == "--calibrate")
            calibration = true;
        else if (arg == "--soundfont" && hasValue)
            soundFont = argv[++i];
        else if (!arg.starts_with("--"))
            files.push_back(arg);
        else
            return usage();
    }
    if (soundFont.empty())
        return usage();
    try {
        if (calibration && files.size() == 1)
            return calibrate(soundFont, rate, files[0]);
        if (files.size() != 2)
            return usage();
        if (stops > 0) {
            const MidiFile song = MidiFile::read(files[0]);
            timeStops(stops, soundFont, song, files[1], 1000, 97, "mid-song");
            timeStops(stops, soundFont, song, files[1], 0, 13, "in its first 130 ms");
            return 0;
        }
        const auto start = Clock::now();
        MidiFile song = MidiFile::read(files[0]);
        Synthesizer synth(soundFont, rate);
        std::printf("SoundFont loaded in %.2f s\n", seconds(start));
        ThreadBudget budget(threads);
        auto source = std::make_unique<ParallelSongRenderer>(song, synth, rate, budget, 0, policy);
        const ParallelSongRenderer& split = *source;
        RenderOptions options;
        if (levelled)
            options.loudness = LoudnessTarget{};
        options.workFolder = std::filesystem::temp_directory_path();
        options.tags = songTags(song);
        RenderJob job(std::move(source), song, quillory::output::OutputFile(files[1]),
                      SoundFormat{rate, 16, 2}, options);
        const Phases phases = run(job);
        report(split, voiceSecond, phases);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "parallel_render: %s\n", e.what());
        return 1;
    }
    return 0;
}
