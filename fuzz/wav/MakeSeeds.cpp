// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Writes the seed corpus of the WAV fuzz target: small files in every format the reader
// accepts, the ones it must refuse, and hand-broken headers. Run once; the output is committed.
//   wav_make_seeds <corpus folder>
#include "tests/components/encoder/WavFixtures.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace fixtures;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wav_make_seeds <corpus folder>\n");
        return 2;
    }
    const fs::path dir = argv[1];
    fs::create_directories(dir);
    auto file = [&](const std::string& name) { return dir / (name + ".wav"); };

    struct Made {
        const char* name;
        int format, rate, channels;
    } const made[] = {
        {"u8-mono-8000", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1},
        {"s16-stereo-44100", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2},
        {"s24-mono-22050", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 22050, 1},
        {"s32-stereo-11025", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 11025, 2},
        {"float-stereo-48000", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2},
        {"double-mono-16000", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 16000, 1},
        {"wavex-s16-stereo-32000", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 32000, 2},
        {"rf64-s24-stereo-96000", SF_FORMAT_RF64 | SF_FORMAT_PCM_24, 96000, 2},
        {"s16-mono-1000", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1000, 1},
        {"s16-stereo-37800", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 37800, 2},
        {"ima-adpcm", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 22050, 2},
        {"ms-adpcm", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 22050, 1},
        {"alaw", SF_FORMAT_WAV | SF_FORMAT_ALAW, 8000, 1},
        {"ulaw", SF_FORMAT_WAV | SF_FORMAT_ULAW, 8000, 2},
        {"gsm", SF_FORMAT_WAV | SF_FORMAT_GSM610, 8000, 1},
        {"six-channels", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 6},
        {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 2},
    };
    for (const Made& m : made)
        writeWav(file(m.name), {.rate = m.rate,
                                .channels = m.channels,
                                .format = m.format,
                                .seconds = 512.0 / m.rate});

    std::vector<float> wild(256);
    for (std::size_t i = 0; i < wild.size(); ++i)
        wild[i] = i % 4 == 0 ? NAN : (i % 4 == 1 ? INFINITY : float(i) - 100.0f);
    writeFloatWav(file("float-nan-inf-loud"), 44100, 2, wild);

    RawWav raw;
    raw.data.assign(1024, 0x40);
    raw.declaredDataBytes = 1024;
    writeBytes(file("raw-good"), rawWavBytes(raw));
    const std::vector<std::uint8_t> good = rawWavBytes(raw);
    writeBytes(file("raw-truncated-header"), {good.begin(), good.begin() + 30});
    RawWav variant = raw;
    variant.channels = 0;
    writeBytes(file("raw-no-channels"), rawWavBytes(variant));
    variant = raw;
    variant.rate = 0;
    writeBytes(file("raw-rate-zero"), rawWavBytes(variant));
    variant = raw;
    variant.declaredDataBytes = 0xFFFFFFF0u;
    writeBytes(file("raw-data-beyond-file"), rawWavBytes(variant));
    variant = raw;
    variant.bits = 12;
    writeBytes(file("raw-12-bit"), rawWavBytes(variant));
    variant = raw;
    variant.formatTag = 3;
    variant.bits = 32;
    writeBytes(file("raw-float-tag"), rawWavBytes(variant));
    writeBytes(file("not-a-wav"), {'h', 'e', 'l', 'l', 'o'});
    return 0;
}
