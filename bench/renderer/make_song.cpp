// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Writes long multi-instrument General MIDI songs for the benchmarks: sixteen channels of
// chords, bass, melody and drums with tempo changes, generated from a seed so runs compare.
// With fewer channels (the fourth argument) the song thins out down to a lone piano line.
#include "tests/support/MidiWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

constexpr int kDivision = 480;

// One track per channel; each plays a pattern over a pentatonic scale for `bars` bars of 4/4.
midiwriter::Track channelTrack(int channel, int bars, std::mt19937& random) {
    static const int scale[] = {0, 2, 4, 7, 9};
    static const int programs[] = {0, 4, 24, 32, 40, 48, 56, 61, 65, 0, 73, 80, 88, 11, 19, 26};
    midiwriter::Track track(true);
    track.program(0, channel, programs[channel]);
    track.controller(0, channel, 10, (channel * 37) % 128); // spread across the stereo field
    track.controller(0, channel, 7, 90);
    const bool drums = channel == 9;
    const int base = drums ? 36 : 36 + 12 * (channel % 4);
    const int step = drums ? kDivision / 4 : kDivision / (1 + channel % 3);
    const int stepsPerBar = 4 * kDivision / step;
    std::uint32_t rest = 0;
    for (int bar = 0; bar < bars; ++bar) {
        for (int s = 0; s < stepsPerBar; ++s) {
            if (random() % 4 == 0) {
                rest += step;
                continue;
            }
            const int key = drums ? 35 + int(random() % 12)
                                  : base + scale[random() % 5] + 12 * int(random() % 2);
            const int velocity = 60 + int(random() % 60);
            track.noteOn(rest, channel, key, velocity);
            track.channel(step - step / 8, std::uint8_t(0x90 | channel), std::uint8_t(key), 0);
            rest = step / 8;
        }
    }
    track.endOfTrack(rest);
    return track;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: make_song MINUTES OUTPUT.mid [SEED [CHANNELS]]\n");
        return 2;
    }
    const double minutes = std::atof(argv[1]);
    std::mt19937 random(argc >= 4 ? unsigned(std::atoi(argv[3])) : 1u);
    const int channels = argc == 5 ? std::max(1, std::min(16, std::atoi(argv[4]))) : 16;
    // The tempo alternates between 120 and 100 bpm every 8 bars, so a bar lasts 2.2 s on average.
    const int bars = static_cast<int>(minutes * 60.0 / 2.2);
    midiwriter::Track conductor;
    for (int bar = 0; bar < bars; bar += 8)
        conductor.tempo(bar == 0 ? 0 : 8 * 4 * kDivision, (bar / 8) % 2 ? 600000 : 500000);
    conductor.endOfTrack();
    std::vector<midiwriter::Track> tracks{conductor};
    for (int channel = 0; channel < channels; ++channel)
        tracks.push_back(channelTrack(channel, bars, random));
    midiwriter::save(argv[2], midiwriter::file(1, kDivision, tracks));
    return 0;
}
