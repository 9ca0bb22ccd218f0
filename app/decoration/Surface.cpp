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

void Surface::paint(QPainter& painter) const {
    painter.drawImage(0, 0, image_);
    for (const Shape& shape : shapes) {
        painter.setPen(QPen(platform::ToQColor(shape.border), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(shape.rect.adjusted(0, 0, -1, -1));
    }
    for (const Line& line : lines) {
        painter.setPen(QPen(platform::ToQColor(line.colour), 1));
        painter.drawLine(line.line);
    }
}
