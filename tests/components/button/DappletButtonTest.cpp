// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The skinned button's keyboard clicks, one per key press however long the key is held, and
// what a screen reader sees of it.
#include "components/button/DappletButton.h"
#include "tests/support/Accessibility.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// What the window system sends for a key: a press, and while it is held, repeated presses
// (and releases) marked as auto-repeat, then the final release.
void holdKey(QWidget* button, int key, int repeats) {
    const QString text = key == Qt::Key_Space ? QStringLiteral(" ") : QStringLiteral("\r");
    QKeyEvent first(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(button, &first);
    for (int i = 0; i < repeats; ++i) {
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text, true);
        QApplication::sendEvent(button, &up);
        QKeyEvent again(QEvent::KeyPress, key, Qt::NoModifier, text, true);
        QApplication::sendEvent(button, &again);
    }
    QKeyEvent last(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(button, &last);
}

TEST(SkinnedButtonKeys, AHeldKeyClicksOncePerPress) {
    DappletButton button;
    int clicks = 0;
    QObject::connect(&button, &SkinButton::clicked, [&] { ++clicks; });
    for (const int key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        clicks = 0;
        holdKey(&button, key, 6);
        EXPECT_EQ(clicks, 1) << "key " << key;
        holdKey(&button, key, 0);
        EXPECT_EQ(clicks, 2) << "a new press clicks again, key " << key;
    }
    clicks = 0;
    QTest::keyClick(&button, Qt::Key_A);
    EXPECT_EQ(clicks, 0) << "other keys do not click";
}

// What a screen reader sees of a button, and what its press does.
TEST(SkinnedButtonAccessibility, APushButtonNamedByItsCaptionWithAPressAction) {
    auto& events = RecordAccessibilityEvents();
    DappletButton button;
    button.setCaption(QStringLiteral("Convert"));
    int clicks = 0;
    QObject::connect(&button, &SkinButton::clicked, [&] { ++clicks; });
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&button);
    EXPECT_EQ(face->role(), QAccessible::Button);
    EXPECT_TRUE(face->state().focusable);
    button.setCaption(QStringLiteral("Stop"));
    EXPECT_EQ(face->text(QAccessible::Name), "Stop");
    EXPECT_EQ(events.back(), AccessibilityEvent(&button, QAccessible::NameChanged, 0));
    const QString press = QAccessibleActionInterface::pressAction();
    EXPECT_EQ(face->actionInterface()->actionNames().value(0), press);
    face->actionInterface()->doAction(press);
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks, 1) << "from the event loop";
    button.setEnabled(false);
    EXPECT_TRUE(face->state().disabled);
    face->actionInterface()->doAction(press);
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks, 1) << "a disabled button is not pressed";
}

} // namespace
