// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "gauge/Parts.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

namespace gauge {

namespace hr = platform::control::hr;

HResult ColouredPart::SetColour(OleColor colour) {
    if (!IsValidColour(colour))
        return hr::InvalidPropertyValue;
    colour_ = colour;
    return hr::Ok;
}

HResult ColouredPart::Move(double left, double top, double width, double height) {
    if (!(width >= 0 && height >= 0))
        return hr::InvalidPropertyValue;
    rect_ = {left, top, width, height};
    return hr::Ok;
}

void ColourLabel::Paint(QPainter& painter, const Surface& surface) const {
    if (visible_)
        painter.fillRect(surface.ToPixels(rect_), platform::ToQColor(colour_));
}

TextLabel::TextLabel(ComPtr<IFontObject> font, OleColor colour, const Surface& surface)
    : ColouredPart(colour)
    , font_(std::move(font))
    , surface_(surface) {
    font_->Advise(this);
}

TextLabel::~TextLabel() {
    font_->Unadvise(this);
}

void TextLabel::SetCaption(const QString& text) {
    caption_ = text;
    FitToText();
}

HResult TextLabel::SetFont(IFontObject* font) {
    if (!font)
        return hr::InvalidPropertyValue;
    font_->Unadvise(this);
    font_ = ComPtr<IFontObject>(font);
    font_->Advise(this);
    FitToText();
    return hr::Ok;
}

HResult TextLabel::MoveTo(double left, double top) {
    rect_.left = left;
    rect_.top = top;
    return hr::Ok;
}

void TextLabel::FitToText() {
    const QFontMetricsF metrics(platform::control::ToQFont(font_->Description()));
    rect_.width = surface_.PixelsToWidth(std::ceil(metrics.horizontalAdvance(caption_)));
    rect_.height = surface_.PixelsToHeight(std::ceil(metrics.height()));
}

void TextLabel::OnFontChanged(platform::control::DispId) {
    FitToText();
    if (onFontChanged)
        onFontChanged();
}

void TextLabel::Paint(QPainter& painter, const Surface& surface) const {
    if (!visible_)
        return;
    const QPoint at(surface.PixelX(rect_.left), surface.PixelY(rect_.top));
    const QFont font = platform::control::ToQFont(font_->Description());
    painter.setFont(font);
    painter.setPen(platform::ToQColor(colour_));
    painter.drawText(QPointF(at) + QPointF(0, QFontMetricsF(font).ascent()), caption_);
}

BorderShape::BorderShape(std::int16_t penWidth, OleColor colour)
    : ColouredPart(colour)
    , penWidth_(penWidth) {
}

HResult BorderShape::SetPenWidth(std::int16_t width) {
    if (width < MinPenWidth || width > MaxPenWidth)
        return hr::InvalidPropertyValue;
    penWidth_ = width;
    return hr::Ok;
}

void BorderShape::Paint(QPainter& painter, const Surface& surface) const {
    const QRect r = surface.ToPixels(rect_);
    if (r.isEmpty())
        return;
    const QColor colour = platform::ToQColor(colour_);
    const int b = std::min<int>(penWidth_, std::max(r.width(), r.height()));
    // The pen lies wholly inside the rectangle; bands wider than half the rectangle overlap.
    painter.fillRect(QRect(r.left(), r.top(), r.width(), std::min(b, r.height())), colour);
    painter.fillRect(QRect(r.left(), r.bottom() - std::min(b, r.height()) + 1, r.width(),
                           std::min(b, r.height())),
                     colour);
    painter.fillRect(QRect(r.left(), r.top(), std::min(b, r.width()), r.height()), colour);
    painter.fillRect(
        QRect(r.right() - std::min(b, r.width()) + 1, r.top(), std::min(b, r.width()), r.height()),
        colour);
}

} // namespace gauge
