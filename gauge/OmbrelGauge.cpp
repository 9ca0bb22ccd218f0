// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "gauge/OmbrelGauge.h"

#include "platform/Rounding.h"
#include "platform/control/OmbrelIds.h"

#include <QPainter>
#include <limits>

namespace gauge {

namespace hr = platform::control::hr;
namespace dispid = platform::control::ombrel::dispid;
using platform::control::Failed;

namespace {

constexpr OleColor InitialBackColor = 0x00C0FFFF;
constexpr OleColor InitialFadeOut = 0x0000C000;
constexpr OleColor InitialFadeIn = 0x0080C0FF;
constexpr OleColor InitialBorderColour = 0x00008000;
constexpr OleColor InitialPercentColour = 0x000000FF;
constexpr OleColor InitialProgressColour = 0x0000FF00;
constexpr double MaxLogicalHeight = 200;

// The layout's intermediates are 16-bit integers; a result out of their range is an overflow
// error of the call, not a wrapped number.
bool fits16(long v, std::int16_t* out) {
    if (v < std::numeric_limits<std::int16_t>::min() ||
        v > std::numeric_limits<std::int16_t>::max())
        return false;
    *out = std::int16_t(v);
    return true;
}

platform::control::FontDescription initialFont() {
    platform::control::FontDescription f;
    f.name = QStringLiteral("Arial");
    f.size = 9.75f;
    f.underline = true;
    return f;
}

} // namespace

#define RETURN_IF_FAILED(expr)                                                                     \
    do {                                                                                           \
        if (const HResult r_ = (expr); Failed(r_))                                                 \
            return r_;                                                                             \
    } while (false)

OmbrelGauge::OmbrelGauge()
    : surface_(DefaultSize, InitialBackColor)
    , fadeOut_(InitialFadeOut)
    , fadeIn_(InitialFadeIn)
    , borderColour_(InitialBorderColour)
    , percent_(platform::control::CreateFontObject(initialFont()), InitialPercentColour, surface_)
    , bar_(InitialProgressColour)
    , border_(1, InitialBorderColour) {
    percent_.onFontChanged = [this] {
        if (onRepaintNeeded)
            onRepaintNeeded();
    };
    bar_.SetVisible(BarShown());
    lastPaintedValue_ = currentValue_;
    LayoutBar();
}

void OmbrelGauge::notify(DispId id) {
    if (onChanged)
        onChanged(id);
}

HResult OmbrelGauge::LayoutBar() {
    std::int16_t twoB = 0;
    std::int16_t least = 0;
    if (!fits16(2L * border_.PenWidth(), &twoB) || !fits16(long(twoB) + 6, &least))
        return hr::ControlOverflow;
    if (surface_.ScaleWidth() < least)
        RETURN_IF_FAILED(surface_.SetScaleWidth(least));
    if (!fits16(2L * border_.PenWidth(), &twoB) || !fits16(long(twoB) + 2, &least))
        return hr::ControlOverflow;
    if (surface_.ScaleHeight() < least)
        RETURN_IF_FAILED(surface_.SetScaleHeight(least));
    if (surface_.ScaleHeight() > MaxLogicalHeight)
        RETURN_IF_FAILED(surface_.SetScaleHeight(MaxLogicalHeight));

    RETURN_IF_FAILED(border_.Move(0, 0, surface_.ScaleWidth(), surface_.ScaleHeight()));
    RETURN_IF_FAILED(border_.SetColour(borderColour_.Colour()));

    percent_.SetCaption(QString::number(currentValue_) + QLatin1Char('%'));
    RETURN_IF_FAILED(percent_.MoveTo((surface_.ScaleWidth() - percent_.Rect().width) / 2,
                                     (surface_.ScaleHeight() - percent_.Rect().height) / 2));
    percent_.SetVisible(percentShown_);

    const std::int16_t b = border_.PenWidth();
    if (!fits16(2L * b, &twoB))
        return hr::ControlOverflow;
    RETURN_IF_FAILED(bar_.Move(b, b, (border_.Rect().width - twoB) * currentValue_ / 100.0,
                               border_.Rect().height - twoB));
    bar_.SetVisible(BarShown());
    return paintFade();
}

HResult OmbrelGauge::paintFade() {
    bar_.SetVisible(BarShown());
    if (!fadeOn_)
        return hr::Ok;
    if (currentValue_ < lastPaintedValue_)
        surface_.Clear();

    const auto c1 = std::int32_t(fadeIn_.Colour());
    const auto c2 = std::int32_t(fadeOut_.Colour());
    const std::int32_t r1 = RedPart(c1), g1 = GreenPart(c1), b1 = BluePart(c1);
    const std::int32_t r2 = RedPart(c2), g2 = GreenPart(c2), b2 = BluePart(c2);

    const std::int16_t b = border_.PenWidth();
    std::int16_t twoB = 0;
    if (!fits16(2L * b, &twoB))
        return hr::ControlOverflow;
    const double rows = platform::RoundHalfEven(surface_.ScaleHeight() - twoB);
    const double x1 = b;
    const double x2 =
        platform::RoundHalfEven((surface_.ScaleWidth() - twoB) * currentValue_ / 100.0 + b);
    if (currentValue_ < 1) {
        lastPaintedValue_ = currentValue_;
        return hr::Ok;
    }
    std::int16_t lastRow = 0;
    if (rows > 0 && !fits16(long(rows) - 1, &lastRow))
        return hr::ControlOverflow;
    for (long i = 0; i < rows; ++i) {
        std::int16_t y = 0;
        if (!fits16(b + i, &y))
            return hr::ControlOverflow;
        const auto part = [&](std::int32_t from, std::int32_t to) {
            return int(platform::RoundHalfEven(double(to - from) / rows * double(i) + from));
        };
        surface_.DrawLine(x1, x2, y, platform::Rgb(part(r1, r2), part(g1, g2), part(b1, b2)));
    }
    lastPaintedValue_ = currentValue_;
    return hr::Ok;
}

HResult OmbrelGauge::SetValue(std::int16_t value) {
    currentValue_ = std::clamp<std::int16_t>(value, 0, 100);
    RETURN_IF_FAILED(LayoutBar());
    notify(dispid::Value);
    return hr::Ok;
}

HResult OmbrelGauge::SetBackColor(OleColor colour) {
    RETURN_IF_FAILED(surface_.SetBackColor(colour));
    RETURN_IF_FAILED(LayoutBar());
    notify(dispid::BackColor);
    return hr::Ok;
}

HResult OmbrelGauge::SetBorderWidth(std::int16_t width) {
    // Each step runs whatever the one before it did.
    border_.SetPenWidth(width);
    LayoutBar();
    notify(dispid::BorderWidth);
    return hr::Ok;
}

HResult OmbrelGauge::SetFontUnderline(bool on) {
    RETURN_IF_FAILED(percent_.Font()->SetUnderline(on));
    notify(dispid::FontUnderline);
    return hr::Ok;
}

HResult OmbrelGauge::SetFontStrikethru(bool on) {
    RETURN_IF_FAILED(percent_.Font()->SetStrikethrough(on));
    notify(dispid::FontStrikethru);
    return hr::Ok;
}

HResult OmbrelGauge::SetFontSize(float points) {
    RETURN_IF_FAILED(percent_.Font()->SetSize(points));
    notify(dispid::FontSize);
    return hr::Ok;
}

HResult OmbrelGauge::SetFontName(const QString& name) {
    RETURN_IF_FAILED(percent_.Font()->SetName(name));
    notify(dispid::FontName);
    return hr::Ok;
}

HResult OmbrelGauge::SetFontItalic(bool on) {
    RETURN_IF_FAILED(percent_.Font()->SetItalic(on));
    notify(dispid::FontItalic);
    return hr::Ok;
}

HResult OmbrelGauge::SetFontBold(bool on) {
    RETURN_IF_FAILED(percent_.Font()->SetBold(on));
    notify(dispid::FontBold);
    return hr::Ok;
}

HResult OmbrelGauge::SetFont(IFontObject* font) {
    RETURN_IF_FAILED(percent_.SetFont(font));
    notify(dispid::Font);
    return hr::Ok;
}

HResult OmbrelGauge::SetPercentColor(OleColor colour) {
    RETURN_IF_FAILED(percent_.SetColour(colour));
    notify(dispid::PercentColor);
    return hr::Ok;
}

HResult OmbrelGauge::SetProgressColor(OleColor colour) {
    RETURN_IF_FAILED(bar_.SetColour(colour));
    notify(dispid::ProgressColor);
    return hr::Ok;
}

HResult OmbrelGauge::SetBorderColor(OleColor colour) {
    RETURN_IF_FAILED(borderColour_.SetColour(colour));
    RETURN_IF_FAILED(border_.SetColour(borderColour_.Colour()));
    notify(dispid::BorderColor);
    return hr::Ok;
}

HResult OmbrelGauge::SetPercentVisible(bool on) {
    percentShown_ = on;
    percent_.SetVisible(percentShown_);
    notify(dispid::PercentVisible);
    return hr::Ok;
}

HResult OmbrelGauge::SetFadeInColor(OleColor colour) {
    RETURN_IF_FAILED(fadeIn_.SetColour(colour));
    RETURN_IF_FAILED(LayoutBar());
    notify(dispid::FadeInColor);
    return hr::Ok;
}

HResult OmbrelGauge::SetFadeOutColor(OleColor colour) {
    RETURN_IF_FAILED(fadeOut_.SetColour(colour));
    RETURN_IF_FAILED(LayoutBar());
    notify(dispid::FadeOutColor);
    return hr::Ok;
}

HResult OmbrelGauge::SetPicture(IPictureObject* picture) {
    surface_.SetPicture(picture);
    notify(dispid::Picture);
    return hr::Ok;
}

HResult OmbrelGauge::SetFadeEnabled(bool on) {
    fadeOn_ = on;
    RETURN_IF_FAILED(LayoutBar());
    notify(dispid::FadeEnabled);
    return hr::Ok;
}

HResult OmbrelGauge::Refresh() {
    return LayoutBar();
}

HResult OmbrelGauge::InitNew() {
    currentValue_ = 50;
    percentShown_ = true;
    fadeOn_ = false;
    return LayoutBar();
}

HResult OmbrelGauge::Resize(QSize pixels) {
    pixels = pixels.expandedTo(QSize(0, 0));
    if (pixels == surface_.PixelSize())
        return hr::Ok;
    surface_.Resize(pixels);
    surface_.Clear();
    return LayoutBar();
}

void OmbrelGauge::Paint(QPainter& painter) const {
    surface_.Paint(painter);
    // From the bottom of the stacking order up; FadeOut, FadeIn and lblBorderColor are never
    // visible.
    border_.Paint(painter, surface_);
    bar_.Paint(painter, surface_);
    percent_.Paint(painter, surface_);
}

QImage OmbrelGauge::Render() const {
    if (PixelSize().isEmpty())
        return QImage();
    QImage image(PixelSize(), QImage::Format_RGB32);
    QPainter painter(&image);
    Paint(painter);
    return image;
}

} // namespace gauge
