// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The drawing surface of the gauge: it keeps what is drawn on it. Lines live in a layer of their
// own above the background colour and the background picture (drawn unscaled at the top-left),
// so changing the background never loses them and Clear removes exactly them. Positions are in
// logical units; normally one unit is one pixel, until the layout assigns a logical width or
// height, after which the surface keeps its logical extents and stretches them over whatever
// pixel size it has. Fractional positions round to pixels with halves going to even.
#pragma once

#include "platform/Colour.h"
#include "platform/control/Com.h"
#include "platform/control/Control.h"

#include <QImage>
#include <QRect>
#include <QSize>

class QPainter;

namespace gauge {

using platform::OleColor;
using platform::control::ComPtr;
using platform::control::HResult;

// A rectangle in logical units.
struct Geometry {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
};

// Plain 0x00BBGGRR colours and the system colours 0 to 0x18; anything else is refused.
bool IsValidColour(OleColor colour);

class Surface {
public:
    Surface(QSize pixels, OleColor background);

    QSize PixelSize() const { return lines_.size(); }
    // Lines drawn so far are lost; the caller clears and lays out again.
    void Resize(QSize pixels);

    double ScaleWidth() const { return scaleWidth_; }
    double ScaleHeight() const { return scaleHeight_; }
    bool FixedScale() const { return fixed_; }
    // Assigning an extent switches the surface to its fixed scale for good.
    HResult SetScaleWidth(double width);
    HResult SetScaleHeight(double height);

    OleColor BackColor() const { return background_; }
    HResult SetBackColor(OleColor colour);
    const ComPtr<platform::control::IPictureObject>& Picture() const { return picture_; }
    void SetPicture(platform::control::IPictureObject* picture);

    void Clear();
    // A horizontal line one pixel high in the row of y, from x1 up to but not including x2,
    // in the colour 0x00BBGGRR.
    void DrawLine(double x1, double x2, double y, OleColor colour);

    int PixelX(double x) const;
    int PixelY(double y) const;
    QRect ToPixels(const Geometry& g) const;
    double PixelsToWidth(double pixels) const;
    double PixelsToHeight(double pixels) const;

    // Background colour, picture, then the drawn lines.
    void Paint(QPainter& painter) const;

private:
    double factorX() const;
    double factorY() const;

    QImage lines_;
    double scaleWidth_;
    double scaleHeight_;
    bool fixed_ = false;
    OleColor background_;
    ComPtr<platform::control::IPictureObject> picture_;
    QImage pictureImage_;
};

} // namespace gauge
