// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// OmbrelGauge, the progress bar: a horizontal bar showing a percentage with the number written
// over it, drawn either as a solid rectangle or, in gradient mode, as a vertical colour fade of
// lines on its surface. This class is the control itself, free of any window: every property,
// the layout pass and the fade painter, and persistence through a property bag. GaugeObject
// puts it behind the control boundary and GaugeWidget shows it.
#pragma once

#include "gauge/Parts.h"
#include "gauge/Surface.h"
#include "platform/control/Control.h"

#include <functional>

class QPainter;

namespace gauge {

using platform::control::DispId;
using platform::control::IControlSite;
using platform::control::IPictureObject;
using platform::control::IPropertyBag;

// Colour components of a 32-bit colour, split arithmetically with the signs of 32-bit
// division, so system-colour references (top bit set) come out negative.
constexpr std::int32_t RedPart(std::int32_t c) {
    return c % 256;
}
constexpr std::int32_t GreenPart(std::int32_t c) {
    return (c / 256) % 256;
}
constexpr std::int32_t BluePart(std::int32_t c) {
    return c / 65536;
}

// 424 x 30 pixels, 6360 x 450 twips.
inline constexpr QSize DefaultSize{424, 30};

class OmbrelGauge {
public:
    OmbrelGauge();
    OmbrelGauge(const OmbrelGauge&) = delete;
    OmbrelGauge& operator=(const OmbrelGauge&) = delete;

    // Told which property changed, so the host can mark its stored layout as modified.
    std::function<void(DispId)> onChanged;
    // Told when the text changed size outside a property call (through the font object).
    std::function<void()> onRepaintNeeded;

    std::int16_t Value() const { return currentValue_; }
    HResult SetValue(std::int16_t value);
    OleColor BackColor() const { return surface_.BackColor(); }
    HResult SetBackColor(OleColor colour);
    std::int16_t BorderWidth() const { return border_.PenWidth(); }
    HResult SetBorderWidth(std::int16_t width);
    bool FontUnderline() const { return font().underline; }
    HResult SetFontUnderline(bool on);
    bool FontStrikethru() const { return font().strikethrough; }
    HResult SetFontStrikethru(bool on);
    float FontSize() const { return font().size; }
    HResult SetFontSize(float points);
    QString FontName() const { return font().name; }
    HResult SetFontName(const QString& name);
    bool FontItalic() const { return font().italic; }
    HResult SetFontItalic(bool on);
    bool FontBold() const { return font().bold; }
    HResult SetFontBold(bool on);
    const ComPtr<IFontObject>& Font() const { return percent_.Font(); }
    HResult SetFont(IFontObject* font);
    OleColor PercentColor() const { return percent_.Colour(); }
    HResult SetPercentColor(OleColor colour);
    OleColor ProgressColor() const { return bar_.Colour(); }
    HResult SetProgressColor(OleColor colour);
    OleColor BorderColor() const { return borderColour_.Colour(); }
    HResult SetBorderColor(OleColor colour);
    bool PercentVisible() const { return percentShown_; }
    HResult SetPercentVisible(bool on);
    OleColor FadeInColor() const { return fadeIn_.Colour(); }
    HResult SetFadeInColor(OleColor colour);
    OleColor FadeOutColor() const { return fadeOut_.Colour(); }
    HResult SetFadeOutColor(OleColor colour);
    const ComPtr<IPictureObject>& Picture() const { return surface_.Picture(); }
    HResult SetPicture(IPictureObject* picture);
    bool FadeEnabled() const { return fadeOn_; }
    HResult SetFadeEnabled(bool on);
    HResult Refresh();

    // A control placed for the first time.
    HResult InitNew();
    // site may be null; a bag without "Font" then keeps the text's font.
    HResult Load(IPropertyBag& bag, IControlSite* site);
    HResult Save(IPropertyBag& bag, IControlSite* site) const;

    QSize PixelSize() const { return surface_.PixelSize(); }
    // Clears the surface and lays out again when the pixel size changes.
    HResult Resize(QSize pixels);
    // The surface with the parts over it in their stacking order.
    void Paint(QPainter& painter) const;
    QImage Render() const;

    // The layout pass and what it works on, open to tests and benchmarks.
    HResult LayoutBar();
    bool BarShown() const { return !fadeOn_ && currentValue_ > 0; }
    std::int16_t LastPaintedValue() const { return lastPaintedValue_; }
    const Surface& DrawingSurface() const { return surface_; }
    const TextLabel& PercentLabel() const { return percent_; }
    const ColourLabel& Bar() const { return bar_; }
    const BorderShape& Border() const { return border_; }

private:
    platform::control::FontDescription font() const { return percent_.Font()->Description(); }
    void notify(DispId id);
    HResult paintFade();

    Surface surface_;
    ColourLabel fadeOut_;
    ColourLabel fadeIn_;
    ColourLabel borderColour_;
    TextLabel percent_;
    ColourLabel bar_;
    BorderShape border_;

    std::int16_t currentValue_ = 0;
    bool percentShown_ = false;
    bool fadeOn_ = false;
    std::int16_t lastPaintedValue_ = 0;
};

} // namespace gauge
