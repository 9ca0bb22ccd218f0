// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Encodes one WAV file with the program's encoder, printing "progress N" for each report, for
// the tests that kill an encoding half-way. Arguments: WAV, MP3.
#include "components/encoder/LameMp3Encoder.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    LameMp3Encoder encoder;
    QObject::connect(&encoder, &Mp3Encoder::Progress, [](qint16 percent, int) {
        std::printf("progress %d\n", percent);
        std::fflush(stdout);
        if (percent >= 100)
            QCoreApplication::exit(0);
    });
    QObject::connect(&encoder, &Mp3Encoder::EncodeFailed, [](const QString& message) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        QCoreApplication::exit(1);
    });
    if (!encoder.EncodeFile(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "%s\n", qPrintable(encoder.errorText()));
        return 1;
    }
    return app.exec();
}
