// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/Decoration.h"
#include "app/decoration/Surface.h"
#include "components/button/DappletButton.h"

#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace {

using platform::OleColor;

QColor pixel(const Surface& surface, int x, int y) {
    return surface.image().pixelColor(x, y);
}

QColor base(const QWidget* w) {
    return w->palette().color(QPalette::Base);
}

// A control that takes its background colour through a property, as a hosted control does.
class PropertyControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(quint32 BackColor READ backColor WRITE setBackColor)
public:
    using QWidget::QWidget;
    quint32 backColor() const { return colour; }
    void setBackColor(quint32 c) {
        colour = c;
        ++puts;
    }
    quint32 colour = 0;
    int puts = 0;
};

// A frame's border and a line cover whole pixels of the window on a screen of twice the density
// too: half of one under the control beside it looks broken.
TEST(SurfaceFrames, CoverWholePixelsAtAnyDensity) {
    Surface surface;
    surface.resize(QSize(40, 20));
    surface.shapes.push_back({QRect(2, 3, 30, 10), 0x000000});
    surface.lines.push_back({QLine(0, 16, 39, 16), 0x000000});
    for (const int ratio : {1, 2}) {
        QImage shown(QSize(40, 20) * ratio, QImage::Format_RGB32);
        shown.setDevicePixelRatio(ratio);
        QPainter painter(&shown);
        surface.paint(painter);
        painter.end();
        for (int y = 0; y < shown.height(); ++y) {
            const bool drawn = y / ratio == 3 || y / ratio == 12 || y / ratio == 16;
            EXPECT_EQ(shown.pixelColor(10 * ratio, y) == Qt::black, drawn) << ratio << " " << y;
        }
    }
}

TEST(BandRows, DivideByRowCountAndRoundHalvesToEven) {
    const int reds[] = {0, 25, 50, 75};
    for (int i = 0; i <= 3; ++i)
        EXPECT_EQ(platform::RedOf(BandRowColour(0, 100, 3, i)), reds[i]) << "row " << i;
    EXPECT_EQ(BandRowColour(0, 5, 1, 1), 2u) << "2.5 rounds to 2";
    EXPECT_EQ(BandRowColour(0x030507, 0x030507, 7, 5), 0x030507u);
    EXPECT_EQ(BandRowColour(0xFFF6EB, 0xFED399, 0, 0), 0xFFF6EBu);
}

class GradientTest : public ::testing::Test {
protected:
    void paint(std::vector<QWidget*> tinted, int width, int height) {
        surface.resize(QSize(width, std::max(height, 1)));
        PaintGradient({surface, std::move(tinted)}, 0, 0, width, height, GradientEdge,
                      GradientMiddle);
    }
    QLineEdit* box(const char* name, int top, int height) {
        auto* b = new QLineEdit(&window);
        b->setObjectName(name);
        b->setGeometry(10, top, 50, height);
        return b;
    }
    QWidget window;
    Surface surface;
};

TEST_F(GradientTest, EdgesArePaleAndTheMiddleRowIsSkyBlue) {
    paint({}, 463, 290);
    EXPECT_EQ(pixel(surface, 0, 0), QColor(235, 246, 255));
    EXPECT_EQ(pixel(surface, 462, 145), QColor(153, 211, 254));
    EXPECT_EQ(pixel(surface, 200, 146),
              platform::ToQColor(BandRowColour(GradientMiddle, GradientEdge, 145, 1)));
    EXPECT_EQ(pixel(surface, 5, 289),
              platform::ToQColor(BandRowColour(GradientMiddle, GradientEdge, 145, 144)));
}

TEST_F(GradientTest, ZeroHeightEndsWithTheSecondColourAtRowZero) {
    paint({}, 10, 0);
    EXPECT_EQ(pixel(surface, 3, 0), QColor(153, 211, 254));
}

TEST_F(GradientTest, ControlsTakeTheLastRowWithinTwoUnitsOfTheirCentre) {
    QLineEdit* onRow = box("txtOpen", 99, 2);    // centre 100
    QLineEdit* onHalf = box("txtSave", 99, 3);   // centre 100.5
    QLineEdit* onMiddle = box("optMP3", 144, 2); // centre 145, the middle row
    QLineEdit* untinted = box("Other", 99, 2);
    const QColor before = base(untinted);
    paint({onRow, onHalf, onMiddle}, 463, 290);
    EXPECT_EQ(base(onRow),
              platform::ToQColor(BandRowColour(GradientEdge, GradientMiddle, 145, 101)));
    EXPECT_EQ(base(onHalf),
              platform::ToQColor(BandRowColour(GradientEdge, GradientMiddle, 145, 102)));
    EXPECT_EQ(base(onMiddle),
              platform::ToQColor(BandRowColour(GradientMiddle, GradientEdge, 145, 1)));
    EXPECT_EQ(base(untinted), before);
}

TEST_F(GradientTest, OnlyTheControlsTheWindowNamesAreTinted) {
    QLineEdit* text = box("txtOpen", 99, 2);
    QLineEdit* list = box("cboBitrate", 99, 2);
    const QColor before = base(text);
    paint({}, 463, 290);
    EXPECT_EQ(base(text), before) << "a window that names none, as the About box, tints nothing";
    EXPECT_EQ(base(list), before);
    paint({list}, 463, 290);
    EXPECT_EQ(base(text), before);
    EXPECT_NE(base(list), before);
}

TEST_F(GradientTest, HostedControlsAreTintedThroughTheirProperty) {
    auto* bar = new PropertyControl(&window);
    bar->setObjectName("pbCur");
    bar->setGeometry(16, 176, 345, 21); // centre 186.5
    paint({bar}, 463, 290);
    EXPECT_EQ(bar->colour, BandRowColour(GradientMiddle, GradientEdge, 145, 188 - 145));
    EXPECT_EQ(bar->puts, 4) << "rows 185 to 188 lie within two units";
}

TEST(Highlight, DisabledButtonsStayGreyWhateverTheState) {
    DappletButton button;
    HighlightButton(&button, 1);
    EXPECT_EQ(button.buttonStyle(), 3);
    EXPECT_EQ(button.foreColor(), 0x0000FFu);
    HighlightButton(&button, 7);
    EXPECT_EQ(button.foreColor(), 0x0000FFu) << "other states change nothing";
    HighlightButton(&button, 0);
    EXPECT_EQ(button.buttonStyle(), 0);
    EXPECT_EQ(button.foreColor(), 0xFF0000u);
    button.setEnabled(false);
    HighlightButton(&button, 1);
    EXPECT_EQ(button.buttonStyle(), 3);
    EXPECT_EQ(button.foreColor(), platform::ColourGreyText);
    HighlightButton(&button, 0);
    EXPECT_EQ(button.buttonStyle(), 0);
    EXPECT_EQ(button.foreColor(), platform::ColourGreyText);
}

} // namespace

namespace {

TEST(SkinnedButton, PointerNotificationsComeInPairsEvenWhenDisabled) {
    QWidget window;
    window.resize(200, 100);
    auto* button = new DappletButton(&window);
    button->setGeometry(50, 30, 80, 24);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    int entered = 0;
    int left = 0;
    QObject::connect(button, &SkinButton::pointerEntered, [&](int, int, int, int) { ++entered; });
    QObject::connect(button, &SkinButton::pointerLeft, [&](int, int, int, int) { ++left; });
    button->setEnabled(false);
    QTest::mouseMove(&window, QPoint(5, 5));
    QTest::mouseMove(&window, QPoint(60, 40));
    QTest::mouseMove(&window, QPoint(5, 5));
    EXPECT_EQ(entered, 1);
    EXPECT_EQ(left, 1);
    int clicks = 0;
    QObject::connect(button, &SkinButton::clicked, [&] { ++clicks; });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 0) << "a disabled button raises no click";
    button->setEnabled(true);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

} // namespace
#include "DecorationTest.moc"
