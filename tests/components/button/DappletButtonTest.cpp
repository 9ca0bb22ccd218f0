// The skinned button's keyboard clicks: one per key press, however long the key is held.
#include "components/button/DappletButton.h"

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

} // namespace
