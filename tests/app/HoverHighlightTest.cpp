// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The pointer over the skinned buttons of every window that highlights them, through the real
// buttons and the windows' own wiring: red and style 3 while the pointer is on a button, blue
// and style 0 once it has gone, and grey throughout on a disabled button.
#include "app/decoration/DialogParts.h"
#include "app/decoration/frmAbout.h"
#include "app/encoding/frmWav2Mp3.h"
#include "app/settings/frmOptions.h"
#include "platform/Colour.h"
#include "tests/app/MainWindowFixture.h"

#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr std::uint32_t Red = 0x0000FF;
constexpr std::uint32_t Blue = 0xFF0000;

class HoverHighlightTest : public MainWindowFixture {
protected:
    ButtonFactory realButtons() {
        return [](QWidget* parent) -> SkinButton* { return new DappletButton(parent); };
    }
    EncoderFactory fakeEncoder() {
        return [this](QObject* parent) { return new FakeEncoder(parent, encoderLog); };
    }
};

struct HoverCase {
    const char* window;
    int buttons;
};

// The top-left corner of every window is bare background.
const QPoint Away(2, 2);

void pointAt(QWidget* window, SkinButton* button) {
    QTest::mouseMove(window, button->mapTo(window, button->rect().center()));
}

TEST_F(HoverHighlightTest, EveryButtonOfEveryWindowLightsUpUnderThePointer) {
    const std::function<std::unique_ptr<QWidget>()> open[] = {
        [] { return std::unique_ptr<QWidget>(); },
        [this] { return std::make_unique<frmOptions>(window.get(), realButtons()); },
        [this] { return std::make_unique<frmAbout>(window.get(), realButtons()); },
        [this] { return std::make_unique<frmWav2Mp3>(window.get(), realButtons(), fakeEncoder()); },
    };
    const HoverCase cases[] = {
        {"frmMain", 9}, {"frmOptions", 4}, {"frmAbout", 1}, {"frmWav2Mp3", 3}};
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        SCOPED_TRACE(cases[row].window);
        std::unique_ptr<QWidget> dialog = open[row]();
        QWidget* shown = dialog ? dialog.get() : window.get();
        shown->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(shown));
        const QList<SkinButton*> buttons = shown->findChildren<SkinButton*>();
        ASSERT_EQ(buttons.size(), cases[row].buttons);
        QTest::mouseMove(shown, Away);
        for (SkinButton* button : buttons) {
            SCOPED_TRACE(button->objectName().toStdString());
            pointAt(shown, button);
            EXPECT_EQ(button->buttonStyle(), 3);
            EXPECT_EQ(button->foreColor(), Red);
            QTest::mouseMove(shown, Away);
            EXPECT_EQ(button->buttonStyle(), 0);
            EXPECT_EQ(button->foreColor(), Blue);
        }
        SkinButton* disabled = buttons.front();
        SetButtonEnabled(disabled, false);
        pointAt(shown, disabled);
        EXPECT_EQ(disabled->buttonStyle(), 3);
        EXPECT_EQ(disabled->foreColor(), platform::ColourGreyText) << "grey, not red";
        QTest::mouseMove(shown, Away);
        EXPECT_EQ(disabled->buttonStyle(), 0);
        EXPECT_EQ(disabled->foreColor(), platform::ColourGreyText) << "grey, not blue";
        shown->hide();
    }
}

} // namespace
