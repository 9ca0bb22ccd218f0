// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The lightweight parts the gauge is made of: labels that hold a colour (and one of them shows
// the solid bar), the percentage text, and the border shape. Each checks what it is given the
// way a window-system part would, refusing invalid colours, negative sizes and pen widths out
// of range, and paints itself on the gauge's surface in pixels.
#pragma once

#include "gauge/Surface.h"
#include "platform/control/Control.h"

#include <QString>
#include <functional>

class QPainter;

namespace gauge {

using platform::control::IFontObject;

// What labels and shapes have in common: a colour and a rectangle, both checked when set.
class ColouredPart {
public:
    explicit ColouredPart(OleColor colour)
        : colour_(colour) {}
    OleColor Colour() const { return colour_; }
    // Refuses anything IsValidColour refuses.
    HResult SetColour(OleColor colour);
    const Geometry& Rect() const { return rect_; }
    // Refuses negative widths and heights.
    HResult Move(double left, double top, double width, double height);

protected:
    OleColor colour_;
    Geometry rect_;
};

// A label without text: its colour is its background colour, and, for the solid bar, it
// paints its rectangle.
class ColourLabel : public ColouredPart {
public:
    using ColouredPart::ColouredPart;
    bool Visible() const { return visible_; }
    void SetVisible(bool on) { visible_ = on; }
    // An opaque rectangle in the background colour, when visible.
    void Paint(QPainter& painter, const Surface& surface) const;

private:
    bool visible_ = false;
};

// A transparent label with one line of text that sizes itself to its text. It listens to its
// font object, so a change made through that object resizes it at once (keeping its position).
class TextLabel final : public ColouredPart, private platform::control::IFontSink {
public:
    TextLabel(ComPtr<IFontObject> font, OleColor colour, const Surface& surface);
    ~TextLabel();
    TextLabel(const TextLabel&) = delete;
    TextLabel& operator=(const TextLabel&) = delete;

    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& text);
    const ComPtr<IFontObject>& Font() const { return font_; }
    HResult SetFont(IFontObject* font);
    HResult MoveTo(double left, double top);
    bool Visible() const { return visible_; }
    void SetVisible(bool on) { visible_ = on; }
    // Fits the size to the text in the current font and the surface's current scale.
    void FitToText();
    // Called after the label resized itself because its font changed.
    std::function<void()> onFontChanged;

    void Paint(QPainter& painter, const Surface& surface) const;

private:
    void OnFontChanged(platform::control::DispId property) override;

    ComPtr<IFontObject> font_;
    const Surface& surface_;
    QString caption_;
    bool visible_ = false;
};

// A rectangle outline in its colour, drawn inside its rectangle with a pen of PenWidth pixels.
class BorderShape : public ColouredPart {
public:
    // Pen widths the shape accepts; within them the layout's 16-bit sums (2b + 6 and the
    // like) cannot overflow.
    static constexpr int MinPenWidth = 1;
    static constexpr int MaxPenWidth = 8192;

    BorderShape(std::int16_t penWidth, OleColor colour);
    std::int16_t PenWidth() const { return penWidth_; }
    HResult SetPenWidth(std::int16_t width);
    void Paint(QPainter& painter, const Surface& surface) const;

private:
    std::int16_t penWidth_;
};

} // namespace gauge
