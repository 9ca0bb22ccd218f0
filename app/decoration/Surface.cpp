// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/Surface.h"

#include <QPainter>

void Surface::resize(QSize size) {
    if (size == image_.size())
        return;
    QImage resized(size, QImage::Format_RGB32);
    resized.fill(Qt::white);
    if (!image_.isNull()) {
        QPainter painter(&resized);
        painter.drawImage(0, 0, image_);
    }
    image_ = resized;
}

void Surface::clear(platform::OleColor background) {
    image_.fill(platform::ToQColor(background));
}

void Surface::drawLine(QPoint from, QPoint to, platform::OleColor colour) {
    if (from == to || image_.isNull())
        return;
    QPainter painter(&image_);
    painter.setPen(QPen(platform::ToQColor(colour), 1));
    if (from.y() == to.y()) {
        // Horizontal rows are the common case: fill them exactly, end point excluded.
        const int left = std::min(from.x(), to.x() + (to.x() < from.x() ? 1 : 0));
        const int right = std::max(from.x(), to.x() - (to.x() > from.x() ? 1 : 0));
        painter.fillRect(QRect(QPoint(left, from.y()), QPoint(right, from.y())),
                         platform::ToQColor(colour));
        return;
    }
    painter.drawLine(from, to);
}

// Frames and lines fill whole pixels of the window, as they do at one device pixel to a pixel:
// a pen along the pixel edge would straddle two rows on a denser screen, one of them under the
// control next to it.
void Surface::paint(QPainter& painter) const {
    painter.drawImage(0, 0, image_);
    for (const Shape& shape : shapes) {
        const QColor colour = platform::ToQColor(shape.border);
        const QRect r = shape.rect;
        if (r.width() <= 0 || r.height() <= 0)
            continue;
        painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), colour);
        painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), colour);
        painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), colour);
        painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), colour);
    }
    for (const Line& line : lines) {
        const QLine l = line.line;
        if (l.y1() == l.y2()) {
            painter.fillRect(QRect(QPoint(std::min(l.x1(), l.x2()), l.y1()),
                                   QPoint(std::max(l.x1(), l.x2()), l.y1())),
                             platform::ToQColor(line.colour));
            continue;
        }
        painter.setPen(QPen(platform::ToQColor(line.colour), 1));
        painter.drawLine(l);
    }
}
