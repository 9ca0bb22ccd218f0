// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The window's way from MIDI to MP3, timed from Convert to the finished file: the window's renderer
// (SynthRenderer) renders the song to a 44100 Hz 16-bit stereo WAV, levelled as the program does
// by default, then the encoding stage's encoder (LameMp3Encoder) makes a 128 kb/s MP3 of it.
// "--one-core" holds one thread of the process's thread budget for the whole run, so the song is
// synthesised on a single synthesiser, as it was before songs were split over the cores; the
// encoder never draws from the budget, so it runs as it always did.
//   window_mp3 [--one-core] SOUNDFONT INPUT.mid WORK_FOLDER OUTPUT.mp3
#include "components/encoder/LameMp3Encoder.h"
#include "components/renderer/SynthRenderer.h"
#include "components/synthesis/ThreadBudget.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs an event loop that `connect` wires up to quit, and returns whether its handlers set ok.
bool runUntil(const std::function<void(QEventLoop&, bool&)>& connect) {
    QEventLoop loop;
    bool ok = false;
    connect(loop, ok);
    loop.exec();
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool oneCore = argc > 1 && std::strcmp(argv[1], "--one-core") == 0;
    if (argc != 5 + (oneCore ? 1 : 0)) {
        std::fprintf(stderr,
                     "usage: window_mp3 [--one-core] SOUNDFONT INPUT.mid WORK_FOLDER OUTPUT.mp3\n");
        return 2;
    }
    char** arg = argv + (oneCore ? 2 : 1);
    const QString work = QString::fromLocal8Bit(arg[2]);
    const QString wav = QDir(work).filePath(QStringLiteral("__qlr_1.wav"));

    std::optional<quillory::renderer::ThreadBudget::Grant> heldCore;
    if (oneCore)
        heldCore = quillory::renderer::ThreadBudget::shared().acquire(1);

    const auto start = Clock::now();
    SynthRenderer renderer;
    renderer.setSoundFont(QString::fromLocal8Bit(arg[0]));
    renderer.setSampleRate(44100);
    renderer.setBitsPerSample(16);
    renderer.setChannelCount(2);
    renderer.setWorkFolder(work);
    // Levelled for the MP3 it becomes, as the program tells its renderer.
    renderer.setMp3Settings(encoder::Mp3Settings{});
    if (!renderer.Render(QString::fromLocal8Bit(arg[1]), wav)) {
        std::fprintf(stderr, "window_mp3: %s\n", qPrintable(renderer.errorText()));
        return 1;
    }
    const auto failed = [](QEventLoop& loop) {
        return [&loop](const QString& message) {
            std::fprintf(stderr, "window_mp3: %s\n", qPrintable(message));
            loop.quit();
        };
    };
    if (!runUntil([&](QEventLoop& loop, bool& ok) {
            QObject::connect(&renderer, &Renderer::RenderDone, &loop, [&] {
                ok = true;
                loop.quit();
            });
            QObject::connect(&renderer, &Renderer::RenderFailed, &loop, failed(loop));
        }))
        return 1;
    const double rendered = secondsSince(start);

    LameMp3Encoder encoder;
    const encoder::Mp3Settings settings;
    encoder.setVbrMode(settings.vbrMode);
    encoder.setBitRateKbps(settings.bitRateKbps);
    encoder.setChannelMode(settings.channelMode);
    if (!encoder.EncodeFile(wav, QString::fromLocal8Bit(arg[3]))) {
        std::fprintf(stderr, "window_mp3: %s\n", qPrintable(encoder.errorText()));
        return 1;
    }
    if (!runUntil([&](QEventLoop& loop, bool& ok) {
            QObject::connect(&encoder, &Mp3Encoder::Progress, &loop, [&](qint16 percent, int) {
                if (percent >= 100) {
                    ok = true;
                    loop.quit();
                }
            });
            QObject::connect(&encoder, &Mp3Encoder::EncodeFailed, &loop, failed(loop));
        }))
        return 1;
    QFile::remove(wav);
    std::printf("%s render %.2f s, encode %.2f s, total %.2f s\n",
                oneCore ? "one core  " : "all cores ", rendered, secondsSince(start) - rendered,
                secondsSince(start));
    return 0;
}
