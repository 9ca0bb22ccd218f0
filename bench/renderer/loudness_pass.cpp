// What the loudness pass costs: renders one MIDI file to a 16-bit WAV twice, as the renderer does
// today (synthesis straight into the WAV writer) and in two passes (synthesis measured by the
// loudness meter into the float intermediate, then read back, levelled, dithered and written),
// and prints the processor time of each stage per second of audio and the ratio of the two
// renders. Processor time, not wall time, so that other work on a shared machine disturbs it less.
//   loudness_pass [--rate HZ] [--soundfont FILE] [--runs N] INPUT.mid WORK_FOLDER
#include "components/renderer/Dither.h"
#include "components/renderer/FloatIntermediate.h"
#include "components/renderer/Loudness.h"
#include "components/renderer/SongRenderer.h"
#include "components/renderer/SoundFontSearch.h"
#include "components/renderer/WavWriter.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

using namespace quillory::renderer;

namespace {

constexpr std::size_t kBlock = 4096;

// This program has one thread, so the process's processor time is the work of the stage.
using Instant = std::clock_t;

Instant now() {
    return std::clock();
}

double since(Instant start) {
    return double(std::clock() - start) / CLOCKS_PER_SEC;
}

struct Times {
    double total = 0;
    double synth = 0;
    double meter = 0;
    double store = 0;  // writing and reading back the intermediate
    double output = 0; // dither and WAV writing (or, for the plain render, the WAV writer)
    double seconds = 0;
};

Times plainRender(const MidiFile& song, Synthesizer& synth, int rate,
                  const std::filesystem::path& wav) {
    Times t;
    const auto start = now();
    SongRenderer renderer(song, synth, rate);
    WavWriter writer(wav, {.sampleRate = rate}, SongRenderer::maxFrames(song, rate));
    std::vector<float> left(kBlock), right(kBlock);
    std::uint64_t frames = 0;
    for (;;) {
        auto at = now();
        const std::size_t n = renderer.render(left.data(), right.data(), kBlock);
        t.synth += since(at);
        if (n == 0)
            break;
        at = now();
        writer.write(left.data(), right.data(), n);
        t.output += since(at);
        frames += n;
    }
    writer.close();
    t.total = since(start);
    t.seconds = double(frames) / rate;
    return t;
}

Times levelledRender(const MidiFile& song, Synthesizer& synth, int rate,
                     const std::filesystem::path& folder, const std::filesystem::path& wav) {
    Times t;
    const auto start = now();
    SongRenderer renderer(song, synth, rate);
    LoudnessMeter meter(rate, 2);
    FloatIntermediate store(folder);
    std::vector<float> left(kBlock), right(kBlock), interleaved(2 * kBlock);
    std::vector<std::int16_t> pcm(2 * kBlock);
    for (;;) {
        auto at = now();
        const std::size_t n = renderer.render(left.data(), right.data(), kBlock);
        t.synth += since(at);
        if (n == 0)
            break;
        at = now();
        meter.add(left.data(), right.data(), n);
        t.meter += since(at);
        at = now();
        store.write(left.data(), right.data(), n);
        t.store += since(at);
    }
    auto at = now();
    const float factor = float(dbToFactor(loudnessGainDb(meter.result())));
    store.rewind();
    t.store += since(at);

    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* out = sf_open(wav.string().c_str(), SFM_WRITE, &info);
    if (!out)
        throw RenderError("cannot create " + wav.string());
    DitherQuantizer quantizer(16);
    for (;;) {
        at = now();
        const std::size_t n = store.read(left.data(), right.data(), kBlock);
        t.store += since(at);
        if (n == 0)
            break;
        at = now();
        for (std::size_t i = 0; i < n; ++i) {
            interleaved[2 * i] = left[i];
            interleaved[2 * i + 1] = right[i];
        }
        quantizer.quantize(interleaved.data(), 2 * n, factor, pcm.data());
        sf_writef_short(out, pcm.data(), sf_count_t(n));
        t.output += since(at);
        t.seconds += double(n) / rate;
    }
    sf_close(out);
    t.total = since(start);
    return t;
}

void keepBest(Times& best, const Times& run) {
    if (best.total == 0 || run.total < best.total)
        best = run;
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
        Times plain, levelled;
        // Alternating runs, best of each, so a busy moment of the machine hits both alike.
        for (int run = 0; run < runs; ++run) {
            keepBest(plain, plainRender(song, synth, rate, folder / "plain.wav"));
            keepBest(levelled, levelledRender(song, synth, rate, folder, folder / "levelled.wav"));
        }
        std::filesystem::remove(folder / "plain.wav");
        std::filesystem::remove(folder / "levelled.wav");
        const auto perSecond = [](double s, double audio) { return 1000.0 * s / audio; };
        std::printf("%s: %.1f s of audio at %d Hz, best of %d runs\n", files[0].c_str(),
                    plain.seconds, rate, runs);
        std::printf("  plain render    %7.3f s  synth %6.2f ms/s  WAV writer %5.2f ms/s\n",
                    plain.total, perSecond(plain.synth, plain.seconds),
                    perSecond(plain.output, plain.seconds));
        std::printf("  levelled render %7.3f s  synth %6.2f ms/s  meter %5.2f ms/s  "
                    "intermediate %5.2f ms/s  dither+WAV %5.2f ms/s\n",
                    levelled.total, perSecond(levelled.synth, levelled.seconds),
                    perSecond(levelled.meter, levelled.seconds),
                    perSecond(levelled.store, levelled.seconds),
                    perSecond(levelled.output, levelled.seconds));
        std::printf("  levelled / plain: %.3fx\n", levelled.total / plain.total);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "loudness_pass: %s\n", e.what());
        return 1;
    }
    return 0;
}
