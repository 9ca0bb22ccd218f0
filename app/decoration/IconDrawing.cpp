// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/IconDrawing.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

void drawBackground(QPainter& p) {
    QLinearGradient sky(0, 2, 0, 46);
    sky.setColorAt(0.0, QColor(235, 246, 255));
    sky.setColorAt(0.55, QColor(153, 211, 254));
    sky.setColorAt(1.0, QColor(64, 140, 222));
    p.setPen(QPen(QColor(28, 78, 150), 1.5));
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(2.75, 2.75, 42.5, 42.5), 9, 9);
}

void drawWave(QPainter& p) {
    QPainterPath wave;
    wave.moveTo(6, 37);
    for (double x = 6; x <= 21; x += 0.5)
        wave.lineTo(x, 37 - 4.5 * std::sin((x - 6) / 15.0 * 2 * M_PI * 1.5) * (1 - (x - 6) / 22));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(220, 30, 40), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(wave);
}

void drawNote(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 60, 130));
    p.save();
    p.translate(10.5, 21);
    p.rotate(-25);
    p.drawEllipse(QRectF(-3.6, -2.6, 7.2, 5.2));
    p.restore();
    p.drawRect(QRectF(13, 8, 1.9, 13));
    QPainterPath flag;
    flag.moveTo(13.8, 8);
    flag.cubicTo(15, 12, 20, 12, 18.5, 18);
    flag.cubicTo(18.5, 14, 16, 13.5, 13.8, 12.5);
    flag.closeSubpath();
    p.drawPath(flag);
}

void drawQuill(QPainter& p) {
    // The quill lies along the diagonal from its nib at (22, 38) to its top at (43, 5).
    p.save();
    p.translate(22, 38);
    p.rotate(-57.5);
    const double length = 39;
    QPainterPath vane;
    vane.moveTo(9, 0);
    vane.cubicTo(16, -7.5, 30, -8.5, length, -1.5);
    vane.cubicTo(30, 1.5, 18, 6.5, 9, 0);
    QLinearGradient shade(0, -8, 0, 6);
    shade.setColorAt(0, QColor(255, 255, 255));
    shade.setColorAt(1, QColor(205, 222, 240));
    p.setPen(QPen(QColor(40, 70, 120), 1));
    p.setBrush(shade);
    p.drawPath(vane);
    p.setPen(QPen(QColor(150, 170, 200), 0.7));
    for (double x = 15; x < length - 6; x += 6) {
        p.drawLine(QPointF(x, 0), QPointF(x + 4, -4.5));
        p.drawLine(QPointF(x, 0), QPointF(x + 4, 3.2));
    }
    p.setPen(QPen(QColor(40, 60, 100), 1.3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3, 0), QPointF(length, -1));
    QPainterPath nib;
    nib.moveTo(0, 0);
    nib.lineTo(5, -1.8);
    nib.lineTo(5, 1.8);
    nib.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 40));
    p.drawPath(nib);
    p.restore();
}

} // namespace

void DrawProgramIcon(QPainter& p) {
    drawBackground(p);
    drawWave(p);
    drawNote(p);
    drawQuill(p);
}

QImage ProgramIconImage(int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(pixels / double(IconGrid), pixels / double(IconGrid));
    DrawProgramIcon(p);
    return image;
}
