// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "gauge/Surface.h"

#include "platform/Rounding.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace gauge {

namespace hr = platform::control::hr;

namespace {

// Far outside any window, yet safe to round and to add to.
constexpr double PixelLimit = 1 << 24;

int toPixel(double v) {
    if (std::isnan(v))
        return 0;
    return int(platform::RoundHalfEven(std::clamp(v, -PixelLimit, PixelLimit)));
}

} // namespace

bool IsValidColour(OleColor colour) {
    const OleColor kind = colour & 0xFF000000u;
    if (kind == 0)
        return true;
    return kind == platform::SystemColourFlag && (colour & 0x00FFFFFFu) <= 0x18;
}

Surface::Surface(QSize pixels, OleColor background)
    : lines_(pixels, QImage::Format_ARGB32_Premultiplied)
    , scaleWidth_(pixels.width())
    , scaleHeight_(pixels.height())
    , background_(background) {
    Clear();
}

void Surface::Resize(QSize pixels) {
    lines_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    lines_.fill(Qt::transparent);
    if (!fixed_) {
        scaleWidth_ = pixels.width();
        scaleHeight_ = pixels.height();
    }
}

HResult Surface::SetScaleWidth(double width) {
    if (!(width > 0 && width <= PixelLimit))
        return hr::InvalidPropertyValue;
    scaleWidth_ = width;
    fixed_ = true;
    return hr::Ok;
}

HResult Surface::SetScaleHeight(double height) {
    if (!(height > 0 && height <= PixelLimit))
        return hr::InvalidPropertyValue;
    scaleHeight_ = height;
    fixed_ = true;
    return hr::Ok;
}

HResult Surface::SetBackColor(OleColor colour) {
    if (!IsValidColour(colour))
        return hr::InvalidPropertyValue;
    background_ = colour;
    return hr::Ok;
}

void Surface::SetPicture(platform::control::IPictureObject* picture) {
    picture_ = ComPtr<platform::control::IPictureObject>(picture);
    pictureImage_ = picture ? picture->Image() : QImage();
}

void Surface::Clear() {
    lines_.fill(Qt::transparent);
}

void Surface::DrawLine(double x1, double x2, double y, OleColor colour) {
    const int row = PixelY(y);
    if (row < 0 || row >= lines_.height())
        return;
    const int start = PixelX(x1);
    const int end = PixelX(x2);
    // From the start pixel towards x2, leaving out the end pixel in either direction.
    int from = start <= end ? start : end + 1;
    int to = start <= end ? end : start + 1;
    from = std::max(from, 0);
    to = std::min(to, lines_.width());
    if (from >= to)
        return;
    const QRgb pixel =
        qRgb(platform::RedOf(colour), platform::GreenOf(colour), platform::BlueOf(colour));
    auto* line = reinterpret_cast<QRgb*>(lines_.scanLine(row));
    std::fill(line + from, line + to, pixel);
}

double Surface::factorX() const {
    return scaleWidth_ > 0 ? lines_.width() / scaleWidth_ : 1.0;
}

double Surface::factorY() const {
    return scaleHeight_ > 0 ? lines_.height() / scaleHeight_ : 1.0;
}

int Surface::PixelX(double x) const {
    return toPixel(x * factorX());
}

int Surface::PixelY(double y) const {
    return toPixel(y * factorY());
}

QRect Surface::ToPixels(const Geometry& g) const {
    const int left = PixelX(g.left);
    const int top = PixelY(g.top);
    return QRect(QPoint(left, top),
                 QPoint(PixelX(g.left + g.width) - 1, PixelY(g.top + g.height) - 1));
}

double Surface::PixelsToWidth(double pixels) const {
    return lines_.width() > 0 ? pixels / factorX() : pixels;
}

double Surface::PixelsToHeight(double pixels) const {
    return lines_.height() > 0 ? pixels / factorY() : pixels;
}

void Surface::Paint(QPainter& painter) const {
    painter.fillRect(QRect(QPoint(0, 0), lines_.size()), platform::ToQColor(background_));
    if (!pictureImage_.isNull())
        painter.drawImage(QPoint(0, 0), pictureImage_);
    painter.drawImage(QPoint(0, 0), lines_);
}

} // namespace gauge
