// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Measures how long StopRender takes to end a running render, the worker joined and the WAV
// closed, at the most expensive format (96 kHz stereo) on a dense song. STOP_AFTER_MS (200 by
// default) is how long into each render the first stop comes; a stop within the first few hundred
// milliseconds may meet the song still being set up. Each render writes a new file unless
// REPLACE=1, when it replaces the last one's WAV.
#include "components/renderer/SynthRenderer.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: stop_latency SOUNDFONT INPUT.mid OUTPUT.wav\n");
        return 2;
    }
    SynthRenderer renderer;
    renderer.setSoundFont(QString::fromLocal8Bit(argv[1]));
    renderer.setSampleRate(96000);
    renderer.setBitsPerSample(16);
    renderer.setChannelCount(2);
    double worst = 0, sum = 0;
    const int runs = 20;
    // The median too: on a shared machine, the mean and the worst stop mostly measure the others.
    std::vector<double> took_ms;
    // REPLACE=1: each render replaces the WAV the last one left, which costs the file system more
    // (the old file's blocks are freed as the new one is renamed over it).
    const bool replace = std::getenv("REPLACE") != nullptr;
    const char* stopAfter = std::getenv("STOP_AFTER_MS");
    const int firstStopMs = stopAfter ? std::atoi(stopAfter) : 200;
    for (int i = 0; i < runs; ++i) {
        if (!replace)
            std::remove(argv[3]);
        if (!renderer.Render(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]))) {
            std::fprintf(stderr, "stop_latency: %s\n", qPrintable(renderer.errorText()));
            return 1;
        }
        // Somewhere into the song, so the synth has voices sounding.
        std::this_thread::sleep_for(std::chrono::milliseconds(firstStopMs + 37 * i));
        const auto start = std::chrono::steady_clock::now();
        renderer.StopRender();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        worst = std::max(worst, took.count());
        sum += took.count();
        took_ms.push_back(took.count());
    }
    std::sort(took_ms.begin(), took_ms.end());
    std::printf(
        "StopRender at 96000 Hz stereo: median %.2f ms, mean %.2f ms, worst %.2f ms over %d "
        "stops\n",
        (took_ms[runs / 2 - 1] + took_ms[runs / 2]) / 2, sum / runs, worst, runs);
    return 0;
}
