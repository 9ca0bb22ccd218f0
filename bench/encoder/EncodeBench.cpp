// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Command-line driver for the encoder benchmark: encodes a WAV into an MP3 with the engine's
// block loop, and makes the long test WAV the comparison runs on.
//   encoder_bench encode (--cbr KBPS | --vbr MIN-MAX) [--mode 0..3] IN.wav OUT.mp3
//   encoder_bench make-wav OUT.wav SECONDS
#include "components/encoder/Mp3FileEncoder.h"

#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: encoder_bench encode (--cbr KBPS | --vbr MIN-MAX) [--mode 0..3] "
                         "IN.wav OUT.mp3\n       encoder_bench make-wav OUT.wav SECONDS\n");
    return 2;
}

int encode(int argc, char** argv) {
    encoder::Mp3Settings settings;
    std::vector<const char*> paths;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cbr" && i + 1 < argc) {
            settings.vbrMode = 0;
            settings.bitRateKbps = std::atoi(argv[++i]);
        } else if (arg == "--vbr" && i + 1 < argc) {
            settings.vbrMode = 1;
            if (std::sscanf(argv[++i], "%d-%d", &settings.minBitRateKbps,
                            &settings.maxBitRateKbps) != 2)
                return usage();
        } else if (arg == "--mode" && i + 1 < argc) {
            settings.channelMode = std::atoi(argv[++i]);
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.size() != 2)
        return usage();
    const auto start = std::chrono::steady_clock::now();
    encoder::Mp3FileEncoder encoder;
    if (!encoder.open(paths[0], std::filesystem::path(paths[1]), settings)) {
        std::fprintf(stderr, "%s\n", encoder.error().c_str());
        return 1;
    }
    while (encoder.encodeBlock() == encoder::Mp3FileEncoder::Step::More) {
    }
    if (!encoder.finish()) {
        std::fprintf(stderr, "%s\n", encoder.error().c_str());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f s for %lld frames\n", seconds, static_cast<long long>(encoder.framesDone()));
    return 0;
}

// Something like music for the encoder to work on: random notes of a few harmonic voices with
// decaying envelopes, panned apart, over a quiet noise bed with bursts on the beat.
int makeWav(const char* path, double seconds) {
    const int rate = 44100;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path, SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "cannot write %s: %s\n", path, sf_strerror(nullptr));
        return 1;
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<int> note(36, 84);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    struct Voice {
        double frequency = 0, phase = 0, level = 0, pan = 0.5;
    };
    Voice voices[4];
    const int beat = rate / 4;
    std::vector<float> block(2 * static_cast<std::size_t>(beat));
    const auto total = static_cast<long>(seconds * rate);
    for (long done = 0; done < total; done += beat) {
        Voice& fresh = voices[(done / beat) % 4];
        fresh.frequency = 440.0 * std::pow(2.0, (note(random) - 69) / 12.0);
        fresh.level = 0.2;
        fresh.pan = (done / beat) % 4 / 3.0;
        for (int i = 0; i < beat; ++i) {
            double left = 0, right = 0;
            for (Voice& v : voices) {
                v.phase += 2 * M_PI * v.frequency / rate;
                const double sound = v.level * (std::sin(v.phase) + 0.5 * std::sin(2 * v.phase) +
                                                0.25 * std::sin(3 * v.phase));
                v.level *= 0.99995;
                left += sound * (1 - v.pan);
                right += sound * v.pan;
            }
            const double hiss = (i < rate / 50 ? 0.2 : 0.01) * noise(random);
            block[2 * i] = static_cast<float>(left + hiss);
            block[2 * i + 1] = static_cast<float>(right + hiss);
        }
        sf_writef_float(file, block.data(), beat);
    }
    sf_close(file);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "encode") == 0)
        return encode(argc - 2, argv + 2);
    if (argc == 4 && std::strcmp(argv[1], "make-wav") == 0)
        return makeWav(argv[2], std::atof(argv[3]));
    return usage();
}
