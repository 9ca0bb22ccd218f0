// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Window decoration shared by the program's windows: the shaded background with the controls
// tinted to the row through their middle, and the hover highlight of the skinned buttons.
#pragma once

#include "platform/Colour.h"

#include <cstdint>
#include <vector>

class QWidget;
class Surface;
class SkinButton;

// The surface a window's background is painted on, and the controls of that window that take
// the colour of the row through their middle; each window names its own, most name none.
struct GradientTarget {
    Surface& surface;
    std::vector<QWidget*> tinted;
};

constexpr platform::OleColor GradientEdge = 0xFFF6EB;
constexpr platform::OleColor GradientMiddle = 0xFED399;

void PaintGradient(const GradientTarget& target, std::int32_t left, std::int32_t top,
                   std::int32_t right, std::int32_t bottom, platform::OleColor first,
                   platform::OleColor second);
void PaintBand(const GradientTarget& target, std::int32_t left, std::int32_t top,
               std::int32_t right, std::int32_t bottom, platform::OleColor from,
               platform::OleColor to);
void TintControlsAtRow(const std::vector<QWidget*>& controls, std::int32_t row,
                       platform::OleColor colour);
void TintIfCentred(QWidget* control, std::int32_t row, platform::OleColor colour);

// The colour of row i of a band of n + 1 rows.
platform::OleColor BandRowColour(platform::OleColor from, platform::OleColor to, int n, int i);

// Gives a control a background colour: through its BackColor property when it has one (a
// hosted control), otherwise through its palette.
void SetBackColor(QWidget* control, platform::OleColor colour);

void HighlightButton(SkinButton* button, std::int16_t state);
