// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A window surface that keeps what is drawn on it: a backing image that painting code draws
// into once, plus the rectangle shapes and lines that sit on it, repainted from memory.
#pragma once

#include "platform/Colour.h"

#include <QImage>
#include <QLine>
#include <QRect>
#include <vector>

class QPainter;

class Surface {
public:
    struct Shape {
        QRect rect;
        platform::OleColor border;
    };
    struct Line {
        QLine line;
        platform::OleColor colour;
    };

    void resize(QSize size);
    QSize size() const { return image_.size(); }

    // Resets every drawn pixel to the background colour.
    void clear(platform::OleColor background = 0xFFFFFF);
    // A one-pixel line that, like the Windows line primitive, leaves out its end point.
    void drawLine(QPoint from, QPoint to, platform::OleColor colour);
    const QImage& image() const { return image_; }

    std::vector<Shape> shapes;
    std::vector<Line> lines;

    // Draws the image, then the shapes and lines over it.
    void paint(QPainter& painter) const;

private:
    QImage image_;
};
