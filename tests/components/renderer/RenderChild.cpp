// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Renders one MIDI file with the program's renderer, printing "progress N" for each report, for
// the tests that kill a render half-way. Arguments: MIDI, WAV, sample rate, SoundFont.
#include "components/renderer/SynthRenderer.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 5)
        return 2;
    SynthRenderer renderer;
    renderer.setSampleRate(std::atoi(argv[3]));
    renderer.setBitsPerSample(16);
    renderer.setChannelCount(2);
    renderer.setSoundFont(QString::fromLocal8Bit(argv[4]));
    QObject::connect(&renderer, &Renderer::RenderProgress, [](qint16 percent) {
        std::printf("progress %d\n", percent);
        std::fflush(stdout);
    });
    QObject::connect(&renderer, &Renderer::RenderDone, [] { QCoreApplication::exit(0); });
    QObject::connect(&renderer, &Renderer::RenderFailed, [](const QString& message) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        QCoreApplication::exit(1);
    });
    if (!renderer.Render(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "%s\n", qPrintable(renderer.errorText()));
        return 1;
    }
    return app.exec();
}
