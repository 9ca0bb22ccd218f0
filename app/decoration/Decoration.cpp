// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/Decoration.h"

#include "app/decoration/Surface.h"
#include "components/button/SkinButton.h"
#include "platform/Rounding.h"

#include <QMetaProperty>
#include <QWidget>
#include <cmath>
#include <limits>

namespace {

constexpr platform::OleColor TextBlue = 0xFF0000;
constexpr platform::OleColor TextRed = 0x0000FF;

int component(int from, int to, int n, int i) {
    const double value = from + double(to - from) / (n + 1) * i;
    return int(platform::RoundHalfEven(value));
}

} // namespace

platform::OleColor BandRowColour(platform::OleColor from, platform::OleColor to, int n, int i) {
    using namespace platform;
    const int red = component(RedOf(from), RedOf(to), n, i);
    const int green = component(GreenOf(from), GreenOf(to), n, i);
    const int blue = component(BlueOf(from), BlueOf(to), n, i);
    return OleColor(red) + 256u * OleColor(green) + 65536u * OleColor(blue);
}

void PaintGradient(const GradientTarget& target, std::int32_t left, std::int32_t top,
                   std::int32_t right, std::int32_t bottom, platform::OleColor first,
                   platform::OleColor second) {
    target.surface.clear();
    const std::int32_t middle = bottom / 2;
    PaintBand(target, left, top, right, middle, first, second);
    PaintBand(target, left, middle, right, bottom, second, first);
}

void PaintBand(const GradientTarget& target, std::int32_t left, std::int32_t top,
               std::int32_t right, std::int32_t bottom, platform::OleColor from,
               platform::OleColor to) {
    const std::int64_t rows = std::int64_t(bottom) - top;
    // The row counter is 16-bit; no window comes near a taller band, so such a band is skipped.
    if (rows > std::numeric_limits<std::int16_t>::max())
        return;
    const int n = int(rows);
    for (int i = 0; i <= n; ++i) {
        const platform::OleColor colour = BandRowColour(from, to, n, i);
        target.surface.drawLine(QPoint(left, top + i), QPoint(right, top + i), colour);
        TintControlsAtRow(target.tinted, top + i, colour);
    }
}

void TintControlsAtRow(const std::vector<QWidget*>& controls, std::int32_t row,
                       platform::OleColor colour) {
    for (QWidget* control : controls)
        TintIfCentred(control, row, colour);
}

void TintIfCentred(QWidget* control, std::int32_t row, platform::OleColor colour) {
    if (!control)
        return;
    const QRect box = control->geometry();
    const double centre = box.top() + box.height() / 2.0;
    if (std::abs(centre - row) < 2.0)
        SetBackColor(control, colour);
}

void SetBackColor(QWidget* control, platform::OleColor colour) {
    if (control->metaObject()->indexOfProperty("BackColor") >= 0) {
        control->setProperty("BackColor", QVariant::fromValue<quint32>(colour));
        return;
    }
    QPalette palette = control->palette();
    const QColor qcolour = platform::ToQColor(colour);
    palette.setColor(QPalette::Base, qcolour);
    palette.setColor(QPalette::Window, qcolour);
    palette.setColor(QPalette::Button, qcolour);
    control->setPalette(palette);
    control->setAutoFillBackground(true);
}

void HighlightButton(SkinButton* button, std::int16_t state) {
    if (state == 1) {
        button->setButtonStyle(3);
        button->setForeColor(TextRed);
    } else if (state == 0) {
        button->setButtonStyle(0);
        button->setForeColor(TextBlue);
    }
    if (!button->isEnabled())
        button->setForeColor(platform::ColourGreyText);
}
