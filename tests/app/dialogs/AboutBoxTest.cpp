// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The About box: its texts and icon, the link that opens the browser and leaves the box open,
// and OK.
#include "app/decoration/ProductInfo.h"
#include "app/decoration/frmAbout.h"
#include "tests/app/dialogs/DialogTestSupport.h"

#include <QAccessible>
#include <QLabel>
#include <QTest>

namespace {

class AboutTest : public DialogTest {
protected:
    QString text(const char* label) { return about.findChild<QLabel*>(label)->text(); }
    frmAbout about{nullptr, RealButtons()};
};

TEST_F(AboutTest, ShowsIconNameVersionAndWhatItConverts) {
    EXPECT_EQ(about.windowTitle(), "About Quillory");
    EXPECT_EQ(text("Label1"), "Quillory 1.20");
    EXPECT_EQ(text("Label4"), "Convert MIDI to MP3, Convert MIDI to WAV");
    EXPECT_EQ(text("lblWebsite"), QString::fromLatin1(ProductWebsite));
    const QImage icon = about.findChild<QLabel*>("Image1")->pixmap().toImage();
    ASSERT_EQ(icon.size(), QSize(48, 48));
    EXPECT_EQ(qAlpha(icon.pixel(24, 24)), 255) << "a drawing, opaque inside";
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << "with rounded, transparent corners";
}

// The icon is drawn for the screen's pixel density, not scaled up from 48 pixels.
TEST(ProgramIcon, IsDrawnAtTheDevicePixelRatio) {
    EXPECT_EQ(ProgramIconPixmap(2.0).size(), QSize(96, 96));
    EXPECT_EQ(ProgramIconPixmap(2.0).devicePixelRatio(), 2.0);
    EXPECT_EQ(ProgramIcon().pixmap(QSize(128, 128), 2.0).size(), QSize(256, 256));
}

TEST_F(AboutTest, LinkOpensTheBrowserSaysWhenItCannotAndOnlyOkCloses) {
    about.show();
    auto* link = about.findChild<QLabel*>("lblWebsite");
    QTest::mouseClick(link, Qt::RightButton);
    EXPECT_TRUE(shell.requests.empty()) << "only the left button follows the link";
    QTest::mouseClick(link, Qt::LeftButton);
    ASSERT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(shell.requests[0].operation, "open");
    EXPECT_EQ(shell.requests[0].file, "IExplore.exe");
    EXPECT_EQ(shell.requests[0].parameters, QString::fromLatin1(ProductWebsite));
    EXPECT_TRUE(about.isVisible());
    shell.failure = "no application on this computer opens it";
    QTest::mouseClick(link, Qt::LeftButton);
    EXPECT_EQ(texts(), QStringList{"The web site " + shell.requests[0].parameters +
                                   " could not be opened: " + shell.failure + "."});
    EXPECT_TRUE(about.isVisible());
    QTest::mouseClick(about.findChild<SkinButton*>("cmdOK"), Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

// A reader finds the web site as a link whose press follows it, as a click does, and the picture
// by a name of its own.
TEST_F(AboutTest, ScreenReadersFindTheWebsiteAsALinkAndTheIconByName) {
    about.show();
    QAccessibleInterface* link =
        QAccessible::queryAccessibleInterface(about.findChild<QLabel*>("lblWebsite"));
    EXPECT_EQ(link->role(), QAccessible::Link);
    EXPECT_EQ(link->text(QAccessible::Name), QString::fromLatin1(ProductWebsite));
    ASSERT_NE(link->actionInterface(), nullptr);
    ASSERT_TRUE(
        link->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(WaitUntil([&] { return !shell.requests.empty(); }));
    ASSERT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(shell.requests[0].parameters, QString::fromLatin1(ProductWebsite));
    QAccessibleInterface* image =
        QAccessible::queryAccessibleInterface(about.findChild<QLabel*>("Image1"));
    EXPECT_EQ(image->role(), QAccessible::Graphic);
    EXPECT_EQ(image->text(QAccessible::Name), "Quillory icon");
}

} // namespace
