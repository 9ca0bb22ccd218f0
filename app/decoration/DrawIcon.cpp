// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Saves the program icon as a PNG for the desktop's icon theme, 48 pixels unless told otherwise:
//   quillory_draw_icon OUTPUT.png [SIZE]
#include "app/decoration/IconDrawing.h"

#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const int size = argc == 3 ? std::atoi(argv[2]) : IconGrid;
    if (argc < 2 || argc > 3 || size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: quillory_draw_icon OUTPUT.png [SIZE, 16-1024]\n");
        return 2;
    }
    if (!ProgramIconImage(size).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "quillory_draw_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
