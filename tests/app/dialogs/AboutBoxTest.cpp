// The About box: its texts and icon, the link that opens the browser and leaves the box open,
// and OK.
#include "app/decoration/ProductInfo.h"
#include "app/decoration/frmAbout.h"
#include "tests/app/dialogs/DialogTestSupport.h"

#include <QLabel>
#include <QTest>
#include <memory>

namespace {

class AboutTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        about = std::make_unique<frmAbout>(nullptr, RealButtons());
        about->show();
    }
    QLabel* label(const char* name) {
        auto* found = about->findChild<QLabel*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    std::unique_ptr<frmAbout> about;
};

TEST_F(AboutTest, ShowsIconNameVersionAndWhatItConverts) {
    EXPECT_EQ(about->windowTitle(), "About Quillory");
    EXPECT_EQ(about->size(), QSize(409, 188));
    EXPECT_EQ(label("Label1")->text(), "Quillory 1.20");
    EXPECT_EQ(label("Label4")->text(), "Convert MIDI to MP3, Convert MIDI to WAV");
    EXPECT_EQ(label("Label2")->text(), "Website:");
    EXPECT_EQ(label("lblWebsite")->text(), QString::fromLatin1(ProductWebsite));
    EXPECT_TRUE(label("lblWebsite")->font().underline());
    const QPixmap icon = label("Image1")->pixmap();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(48, 48));
    EXPECT_EQ(label("Image1")->geometry(), QRect(16, 16, 48, 48));
    // Opaque in the middle, transparent in the corner: a drawing, not an empty image.
    const QImage image = icon.toImage();
    EXPECT_EQ(qAlpha(image.pixel(24, 24)), 255);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(ProgramIcon().availableSizes().value(0), QSize(48, 48));
    EXPECT_EQ(about->surface().image().pixelColor(5, 94), QColor(153, 211, 254))
        << "the gradient's middle row";
}

TEST_F(AboutTest, LinkOpensTheWebsiteInTheBrowserAndLeavesTheBoxOpen) {
    QTest::mouseClick(label("lblWebsite"), Qt::RightButton);
    EXPECT_TRUE(shell.requests.empty()) << "only the left button follows the link";
    QTest::mouseClick(label("lblWebsite"), Qt::LeftButton);
    ASSERT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(shell.requests[0].operation, "open");
    EXPECT_EQ(shell.requests[0].file, "IExplore.exe");
    EXPECT_EQ(shell.requests[0].parameters, QString::fromLatin1(ProductWebsite));
    EXPECT_EQ(shell.requests[0].directory, "");
    EXPECT_TRUE(about->isVisible());
}

TEST_F(AboutTest, OkClosesAndHoverHighlights) {
    auto* ok = about->findChild<SkinButton*>("cmdOK");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->caption(), "OK");
    emit ok->pointerEntered(0, 0, 1, 1);
    EXPECT_EQ(ok->foreColor(), 0x0000FFu);
    EXPECT_EQ(ok->buttonStyle(), 3);
    emit ok->pointerLeft(0, 0, 1, 1);
    EXPECT_EQ(ok->foreColor(), 0xFF0000u);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(about->isVisible());
    EXPECT_EQ(about->result(), QDialog::Accepted);
}

} // namespace
