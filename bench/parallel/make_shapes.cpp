// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Writes General MIDI songs of different shapes for the parallel synthesis benchmark, so that
// the split of channels meets what real songs throw at it: one busy channel, many equal ones, a
// drum channel heavier than the rest, long releases that keep voices sounding.
//   make_shapes SHAPE MINUTES OUTPUT.mid [SEED]
// SHAPE: piano (solo, sustain pedal), tutti (16 busy channels), drums (dense drums over a light
// band), strings (held chords on strings and pads), band (drums, bass, keys, guitar, pad, lead),
// duo (piano and bass).
#include "tests/support/MidiWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

constexpr int kDivision = 480;
constexpr std::uint32_t kBar = 4 * kDivision;

using Random = std::mt19937;

// Notes on a grid: `step` ticks apart, each held `hold` steps, skipping a step now and then.
struct Part {
    int channel = 0;
    int program = 0;
    int pan = 64;
    int reverb = 40;
    int chorus = 0;
    std::uint32_t step = kDivision;
    int hold = 1;
    int voices = 1; // notes struck together
    int low = 48;   // lowest key
    int range = 24; // keys above it
    int rest = 4;   // one step in `rest` is silent (0: never)
    bool pedal = false;
};

midiwriter::Track play(const Part& part, int bars, Random& random) {
    static const int scale[] = {0, 2, 4, 5, 7, 9, 11};
    midiwriter::Track track(true);
    const int ch = part.channel;
    if (ch != 9)
        track.program(0, ch, part.program);
    track.controller(0, ch, 10, part.pan).controller(0, ch, 91, part.reverb);
    track.controller(0, ch, 93, part.chorus).controller(0, ch, 7, 100);
    const std::uint32_t end = std::uint32_t(bars) * kBar;
    std::uint32_t now = 0, last = 0;
    std::vector<std::pair<std::uint32_t, int>> offs; // (tick, key), in order of tick
    const auto emitUntil = [&](std::uint32_t tick) {
        std::stable_sort(offs.begin(), offs.end());
        while (!offs.empty() && offs.front().first <= tick) {
            track.channel(offs.front().first - last, std::uint8_t(0x90 | ch),
                          std::uint8_t(offs.front().second), 0);
            last = offs.front().first;
            offs.erase(offs.begin());
        }
    };
    for (; now < end; now += part.step) {
        emitUntil(now);
        if (part.pedal && now % kBar == 0) {
            track.controller(now - last, ch, 64, 0).controller(0, ch, 64, 127);
            last = now;
        }
        if (part.rest && random() % unsigned(part.rest) == 0)
            continue;
        for (int v = 0; v < part.voices; ++v) {
            const int key = ch == 9
                                ? part.low + int(random() % unsigned(part.range))
                                : part.low + 12 * int(random() % unsigned(part.range / 12 + 1)) +
                                      scale[random() % 7];
            track.noteOn(now - last, ch, std::min(key, 127), 50 + int(random() % 70));
            last = now;
            offs.emplace_back(now + part.step * std::uint32_t(part.hold) - 1, std::min(key, 127));
        }
    }
    emitUntil(end + kBar * 8);
    if (part.pedal) {
        const std::uint32_t at = std::max(end, last);
        track.controller(at - last, ch, 64, 0);
        last = at;
    }
    track.endOfTrack(end > last ? end - last : 0);
    return track;
}

std::vector<Part> shape(const std::string& name) {
    if (name == "piano")
        return {{0, 0, 64, 50, 0, kDivision / 4, 6, 2, 36, 48, 5, true}};
    if (name == "duo")
        return {{0, 0, 54, 40, 0, kDivision / 2, 2, 3, 48, 36, 4, true},
                {1, 32, 74, 30, 0, kDivision, 1, 1, 28, 24, 6}};
    if (name == "strings") {
        std::vector<Part> parts;
        const int programs[] = {48, 49, 50, 51, 88, 89, 91, 94};
        for (int i = 0; i < 8; ++i)
            parts.push_back(
                {i, programs[i], 10 + i * 15, 90, 60, kBar / 2, 3, 2, 36 + 6 * i, 24, 6});
        return parts;
    }
    if (name == "drums")
        return {{9, 0, 64, 30, 0, kDivision / 8, 1, 3, 35, 22, 6},
                {0, 33, 64, 20, 0, kDivision / 2, 1, 1, 28, 24, 3},
                {1, 4, 40, 40, 20, kDivision, 2, 3, 48, 24, 3},
                {2, 29, 90, 30, 0, kDivision / 2, 1, 2, 52, 24, 3}};
    if (name == "band")
        return {{9, 0, 64, 30, 0, kDivision / 4, 1, 2, 35, 12, 4},
                {0, 33, 64, 20, 0, kDivision / 2, 1, 1, 28, 24, 5},
                {1, 0, 44, 40, 0, kDivision / 2, 2, 3, 48, 24, 4, true},
                {2, 27, 84, 40, 40, kDivision / 4, 1, 1, 52, 24, 3},
                {3, 89, 64, 80, 60, kBar, 1, 3, 48, 24, 8},
                {4, 80, 70, 50, 30, kDivision / 2, 1, 1, 64, 24, 3}};
    if (name == "tutti") {
        static const int programs[] = {0, 4, 24, 32, 40, 48, 56, 61, 65, 0, 73, 80, 88, 11, 19, 26};
        std::vector<Part> parts;
        for (int ch = 0; ch < 16; ++ch) {
            const bool drums = ch == 9;
            parts.push_back({ch, programs[ch], (ch * 37) % 128, 40, 20,
                             drums ? kDivision / 4 : std::uint32_t(kDivision / (1 + ch % 3)), 1,
                             drums ? 2 : 1 + ch % 3, drums ? 35 : 36 + 12 * (ch % 4),
                             drums ? 12 : 24, 4});
        }
        return parts;
    }
    return {};
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: make_shapes SHAPE MINUTES OUTPUT.mid [SEED]\n");
        return 2;
    }
    const std::vector<Part> parts = shape(argv[1]);
    if (parts.empty()) {
        std::fprintf(stderr, "make_shapes: unknown shape %s\n", argv[1]);
        return 2;
    }
    Random random(argc == 5 ? unsigned(std::atoi(argv[4])) : 1u);
    // 110 bpm: a bar lasts 2.18 s.
    const int bars = std::max(1, static_cast<int>(std::atof(argv[2]) * 60.0 / (240.0 / 110.0)));
    midiwriter::Track conductor;
    conductor.tempo(0, 545455).endOfTrack(std::uint32_t(bars) * kBar);
    std::vector<midiwriter::Track> tracks{conductor};
    for (const Part& part : parts)
        tracks.push_back(play(part, bars, random));
    midiwriter::save(argv[3], midiwriter::file(1, kDivision, tracks));
    return 0;
}
