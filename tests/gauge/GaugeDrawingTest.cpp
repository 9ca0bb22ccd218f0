// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The gauge's drawing, read back from the pixels it renders: bar geometry, the gradient rows,
// clearing, the logical scale, the colour split and the text position.
#include "GaugeTestSupport.h"

#include <gtest/gtest.h>

using namespace gaugetest;
using gauge::BluePart;
using gauge::GreenPart;
using gauge::RedPart;

namespace {

const QColor Background = Colour(0x00C0FFFF);
const QColor Green = Colour(0x0000FF00);
const QColor BorderGreen = Colour(0x00008000);

TEST(GaugeDrawing, SolidBarAtHalfOf345x21) {
    auto gauge = NewGauge({345, 21});
    const gauge::Geometry bar = gauge->Bar().Rect();
    EXPECT_EQ(bar.left, 1);
    EXPECT_EQ(bar.top, 1);
    EXPECT_EQ(bar.width, 171.5);
    EXPECT_EQ(bar.height, 19);

    const QImage image = gauge->Render();
    // 172.5 rounds to 172: the bar covers columns 1 to 171.
    for (int y = 1; y <= 19; ++y) {
        EXPECT_EQ(Pixel(image, 1, y), Green) << y;
        EXPECT_EQ(Pixel(image, 171, y), Green) << y;
        EXPECT_EQ(Pixel(image, 172, y), Background) << y;
    }
    for (const QPoint p : {QPoint(0, 10), QPoint(344, 10), QPoint(100, 0), QPoint(100, 20)})
        EXPECT_EQ(Pixel(image, p.x(), p.y()), BorderGreen) << p.x() << "," << p.y();
}

TEST(GaugeDrawing, GradientRowsAtHalfOf345x21) {
    auto gauge = NewGauge({345, 21});
    ASSERT_EQ(gauge->SetFadeEnabled(true), hr::Ok);
    EXPECT_FALSE(gauge->Bar().Visible());
    const QImage image = gauge->Render();

    EXPECT_EQ(Pixel(image, 1, 1), QColor(255, 192, 128)); // the fade-in colour itself
    EXPECT_EQ(Pixel(image, 1, 19), QColor(13, 192, 7));   // 18/19 of the way
    int lastRed = 256;
    for (int y = 1; y <= 19; ++y) {
        const QColor row = Pixel(image, 1, y);
        EXPECT_EQ(Pixel(image, 171, y), row) << y;
        EXPECT_EQ(Pixel(image, 172, y), Background) << y; // the end pixel at x2 is left out
        EXPECT_LT(row.red(), lastRed) << y;
        lastRed = row.red();
    }
    EXPECT_EQ(Pixel(image, 100, 20), BorderGreen);
    EXPECT_EQ(gauge->LastPaintedValue(), 50);
}

TEST(GaugeDrawing, FourRowRedToBlueGradientRoundsHalvesToEven) {
    auto gauge = NewGauge({100, 6});
    gauge->SetFadeInColor(0x000000FF);
    gauge->SetFadeOutColor(0x00FF0000);
    gauge->SetValue(100);
    gauge->SetFadeEnabled(true);
    const QImage image = gauge->Render();
    const int red[] = {255, 191, 128, 64};
    const int blue[] = {0, 64, 128, 191};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Pixel(image, 50, 1 + i), QColor(red[i], 0, blue[i])) << i;
}

TEST(GaugeDrawing, EqualFadeColoursGiveOneFlatColour) {
    auto gauge = NewGauge({200, 30});
    gauge->SetFadeInColor(0x00123456);
    gauge->SetFadeOutColor(0x00123456);
    gauge->SetFadeEnabled(true);
    const QImage image = gauge->Render();
    for (int y = 1; y <= 28; ++y)
        EXPECT_EQ(Pixel(image, 10, y), QColor(0x56, 0x34, 0x12)) << y;
}

TEST(GaugeDrawing, DroppingTheValueClearsTheGradient) {
    auto gauge = NewGauge({345, 21});
    gauge->SetFadeEnabled(true);
    gauge->SetValue(80);
    EXPECT_NE(Pixel(gauge->Render(), 250, 10), Background);

    gauge->SetValue(40);
    QImage image = gauge->Render();
    EXPECT_NE(Pixel(image, 100, 10), Background);
    EXPECT_EQ(Pixel(image, 250, 10), Background);

    gauge->SetValue(0);
    image = gauge->Render();
    for (int y = 1; y <= 19; ++y)
        for (int x = 1; x <= 343; ++x)
            ASSERT_EQ(Pixel(image, x, y), Background) << x << "," << y;
    EXPECT_EQ(gauge->LastPaintedValue(), 0);
}

TEST(GaugeDrawing, SwitchingGradientOffKeepsItsLinesBeyondALowerSolidBar) {
    auto gauge = NewGauge({345, 21});
    gauge->SetFadeEnabled(true);
    gauge->SetValue(80);
    const QColor line = Pixel(gauge->Render(), 250, 10);
    gauge->SetFadeEnabled(false);
    gauge->SetValue(40);
    const QImage image = gauge->Render();
    EXPECT_EQ(Pixel(image, 100, 10), Green);
    EXPECT_EQ(Pixel(image, 250, 10), line);
}

TEST(GaugeDrawing, HundredSpansTheWholeInnerWidth) {
    for (const bool gradient : {false, true}) {
        for (const std::int16_t b : {1, 3}) {
            auto gauge = NewGauge({345, 21});
            gauge->SetBorderWidth(b);
            gauge->SetFadeEnabled(gradient);
            gauge->SetValue(100);
            const QImage image = gauge->Render();
            const QColor inside = Pixel(image, b, 10);
            EXPECT_NE(inside, BorderGreen);
            EXPECT_NE(inside, Background);
            EXPECT_EQ(Pixel(image, 344 - b, 10), inside) << gradient << b;
            EXPECT_EQ(Pixel(image, 345 - b, 10), BorderGreen) << gradient << b;
            EXPECT_EQ(Pixel(image, b - 1, 10), BorderGreen) << gradient << b;
        }
    }
}

TEST(GaugeDrawing, NarrowControlGetsEightLogicalUnits) {
    auto gauge = NewGauge({5, 30});
    EXPECT_EQ(gauge->DrawingSurface().ScaleWidth(), 8);
    EXPECT_TRUE(gauge->DrawingSurface().FixedScale());
    gauge->SetValue(100);
    // Eight units over five pixels: the bar's edges 1 and 7 land on pixels 1 and 4.
    const QImage image = gauge->Render();
    EXPECT_EQ(Pixel(image, 0, 15), BorderGreen);
    for (int x = 1; x <= 3; ++x)
        EXPECT_EQ(Pixel(image, x, 15), Green) << x;
    EXPECT_EQ(Pixel(image, 4, 15), BorderGreen);
}

TEST(GaugeDrawing, TallControlKeepsTwoHundredLogicalRows) {
    auto gauge = NewGauge({345, 300});
    gauge->SetFadeInColor(0x000000FF);
    gauge->SetFadeOutColor(0x00FF0000);
    gauge->SetFadeEnabled(true);
    const gauge::Surface& surface = gauge->DrawingSurface();
    EXPECT_EQ(surface.ScaleHeight(), 200);
    EXPECT_EQ(surface.ScaleWidth(), 345);

    // Logical rows 1, 2, 3, 4 lie 1.5 pixels apart: pixel rows 2, 3, 4 (4.5 to even), 6.
    const QImage image = gauge->Render();
    const int red[] = {255, 254, 252, 251}; // 255 - 255/198 * i, rounded
    const int blue[] = {0, 1, 3, 4};
    const int rows[] = {2, 3, 4, 6};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Pixel(image, 100, rows[i]), QColor(red[i], 0, blue[i])) << i;
    EXPECT_EQ(Pixel(image, 100, 1), Background);
    EXPECT_EQ(Pixel(image, 100, 5), Background);

    gauge->Resize({400, 150});
    EXPECT_EQ(surface.ScaleHeight(), 200);
    EXPECT_EQ(surface.ScaleWidth(), 345);
    gauge->Resize({400, 600});
    EXPECT_EQ(surface.ScaleHeight(), 200);
}

TEST(GaugeDrawing, FontChangeResizesTheTextWithoutRecentringIt) {
    auto gauge = NewGauge({345, 21}, true);
    const gauge::Geometry before = gauge->PercentLabel().Rect();
    EXPECT_DOUBLE_EQ(before.left, (345 - before.width) / 2);

    ASSERT_EQ(gauge->SetFontSize(20), hr::Ok);
    const gauge::Geometry bigger = gauge->PercentLabel().Rect();
    EXPECT_GT(bigger.width, before.width);
    EXPECT_EQ(bigger.left, before.left);
    EXPECT_EQ(bigger.top, before.top);

    gauge->SetValue(50);
    const gauge::Geometry recentred = gauge->PercentLabel().Rect();
    EXPECT_DOUBLE_EQ(recentred.left, (345 - recentred.width) / 2);
    EXPECT_LT(recentred.left, before.left);
}

TEST(GaugeDrawing, TextIsCentredInThePercentColour) {
    auto gauge = NewGauge({345, 21}, true);
    const QImage image = gauge->Render();
    ASSERT_GT(RedPixels(image), 20);
    int left = 345, right = -1;
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 345; ++x)
            if (Pixel(image, x, y).red() > 150 && Pixel(image, x, y).blue() < 110) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    EXPECT_NEAR((left + right) / 2.0, 172, 3);
    EXPECT_EQ(gauge->PercentLabel().Caption(), QStringLiteral("50%"));
}

TEST(GaugeColourParts, SplitWithTheSignsOf32BitDivision) {
    struct Row {
        std::int32_t colour;
        std::int32_t red, green, blue;
    };
    const Row rows[] = {
        {0x00123456, 0x56, 0x34, 0x12},
        {0x00FFFFFF, 255, 255, 255},
        {std::int32_t(0x80000012u), -238, -255, -32767},
        {std::int32_t(0xFFFFFFFFu), -1, 0, 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(RedPart(r.colour), r.red) << std::hex << r.colour;
        EXPECT_EQ(GreenPart(r.colour), r.green) << std::hex << r.colour;
        EXPECT_EQ(BluePart(r.colour), r.blue) << std::hex << r.colour;
    }
}

TEST(GaugeDrawing, SystemColourFadeIsSplitNotResolved) {
    auto gauge = NewGauge({50, 10});
    ASSERT_EQ(gauge->SetFadeInColor(0x8000000F), hr::Ok);
    ASSERT_EQ(gauge->SetFadeOutColor(0x8000000F), hr::Ok);
    ASSERT_EQ(gauge->SetFadeEnabled(true), hr::Ok);
    // -2147483633 splits into -241, -255, -32767; each keeps its low eight bits.
    EXPECT_EQ(Pixel(gauge->Render(), 5, 3), QColor(0x0F, 0x01, 0x01));
}

} // namespace
