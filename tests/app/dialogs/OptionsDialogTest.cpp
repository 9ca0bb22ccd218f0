// The Options dialog against a real settings file: what it shows, what OK stores, what Cancel
// and Default leave alone, and the SoundFont choice.
#include "app/decoration/Decoration.h"
#include "app/settings/SoundFontSetting.h"
#include "app/settings/frmOptions.h"
#include "tests/app/dialogs/DialogTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <memory>

namespace {

using platform::MsgAnswer;

const QByteArray SoundFontHeader("RIFF\x04\x00\x00\x00sfbk", 12);

class OptionsTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        open();
    }
    void open() {
        dialog.reset();
        dialog = std::make_unique<frmOptions>(nullptr, RealButtons());
        dialog->show();
    }
    template <typename T = QWidget>
    T* control(const char* name) {
        T* found = dialog->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QComboBox* list(const char* name) { return control<QComboBox>(name); }
    QString shown(const char* name) { return list(name)->currentText(); }
    void pick(const char* name, const QString& text) {
        QComboBox* l = list(name);
        const int index = l->findText(text);
        ASSERT_GE(index, 0) << qPrintable(text);
        l->setCurrentIndex(index);
    }
    void setVbr(bool on) { control<QCheckBox>("chkVBR")->setChecked(on); }
    void click(const char* name) { QTest::mouseClick(control<SkinButton>(name), Qt::LeftButton); }
    void ok() { click("cmdOK(0)"); }
    bool closedWith(QDialog::DialogCode code) {
        return !dialog->isVisible() && dialog->result() == code;
    }
    QString soundFontFile(const char* name, const QByteArray& bytes) {
        const QString path = program.filePath(QString::fromLatin1(name));
        WriteBytes(path, bytes);
        return path;
    }
    void chooseSoundFont(const QString& path) {
        dialogs.choices.push_back(path);
        click("cmdSoundFont");
    }
    static SettingsRecord defaults() {
        return SettingsRecord{128, 0, false, 32, 320, 44100, 2, 16};
    }

    std::unique_ptr<frmOptions> dialog;
};

TEST_F(OptionsTest, FirstStartShowsTheDefaultsWithTheRangeDisabled) {
    EXPECT_EQ(dialog->windowTitle(), "Options");
    EXPECT_EQ(dialog->size(), QSize(378, 363));
    EXPECT_EQ(shown("cboBitrate"), "128 kb/s");
    EXPECT_EQ(shown("cboChannels"), "Stereo");
    EXPECT_EQ(shown("cboMin"), "32 kb/s");
    EXPECT_EQ(shown("cboMax"), "320 kb/s");
    EXPECT_FALSE(control<QCheckBox>("chkVBR")->isChecked());
    for (const char* name : {"cboMin", "cboMax", "Label3", "Label4"})
        EXPECT_FALSE(control(name)->isEnabled()) << name;
    EXPECT_TRUE(list("cboBitrate")->isEnabled());
    EXPECT_EQ(shown("cboFrequency"), "44100");
    EXPECT_EQ(shown("cboWAVChannels"), "Stereo");
    EXPECT_EQ(shown("cboBits"), "16 Bits");
    EXPECT_EQ(control<QLabel>("lblSoundFont")->text(), "(automatic)");
    EXPECT_EQ(list("cboBitrate")->count(), 14);
    EXPECT_EQ(list("cboMax")->itemText(13), "320 kb/s");
    EXPECT_FALSE(QFile::exists(SettingsPath())) << "opening writes nothing";
}

TEST_F(OptionsTest, EtchedFramesTintedControlsAndTheButtonColumn) {
    const auto& shapes = dialog->surface().shapes;
    ASSERT_EQ(shapes.size(), 4u);
    const std::uint32_t accent = control<SkinButton>("cmdOK(0)")->accentColor();
    EXPECT_EQ(shapes[1].rect, QRect(16, 16, 249, 193));
    EXPECT_EQ(shapes[0].rect, QRect(17, 17, 249, 193));
    EXPECT_EQ(shapes[3].rect, QRect(16, 224, 249, 121));
    EXPECT_EQ(shapes[2].rect, QRect(17, 225, 249, 121));
    EXPECT_EQ(shapes[0].border, 0xFFFFFFu);
    EXPECT_EQ(shapes[2].border, 0xFFFFFFu);
    EXPECT_EQ(shapes[1].border, accent);
    EXPECT_EQ(shapes[3].border, accent);
    // cboMin spans rows 136..156: centre 146.5, so it keeps the colour of row 148 of the upper
    // band, which runs down to the middle row 181.
    const QColor middleRow =
        platform::ToQColor(BandRowColour(GradientEdge, GradientMiddle, 181, 148));
    EXPECT_EQ(list("cboMin")->palette().color(QPalette::Base), middleRow);
    EXPECT_TRUE(control("LabelWAV")->autoFillBackground()) << "group captions are opaque";
    const char* const column[] = {"cmdOK(0)", "cmdOK(1)", "cmdOK(2)", "cmdSoundFont"};
    const char* const captions[] = {"OK", "Cancel", "Default", "SoundFont ..."};
    for (int i = 0; i < 4; ++i) {
        auto* button = control<SkinButton>(column[i]);
        EXPECT_EQ(button->geometry(), QRect(280, 16 + 32 * i, 84, 22)) << column[i];
        EXPECT_EQ(button->caption(), captions[i]);
        EXPECT_EQ(button->foreColor(), 0xFF0000u);
    }
}

TEST_F(OptionsTest, RangeMustRiseWhileVbrIsOn) {
    setVbr(true);
    pick("cboMin", "128 kb/s");
    pick("cboMax", "128 kb/s");
    ok();
    setVbr(true);
    pick("cboMin", "320 kb/s");
    pick("cboMax", "32 kb/s");
    ok();
    ASSERT_EQ(boxes.shown.size(), 2u);
    for (const auto& box : boxes.shown) {
        EXPECT_EQ(box.text, "Min Bitrate Must be smaller than Max Bitrate!");
        EXPECT_EQ(box.caption, "Quillory");
        EXPECT_EQ(box.icon, platform::MsgIcon::Critical);
        EXPECT_EQ(box.buttons, platform::MsgButtons::Ok);
    }
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(shown("cboMin"), "320 kb/s") << "the choices stay as they were";
    EXPECT_EQ(Settings(), defaults());
    EXPECT_FALSE(QFile::exists(SettingsPath()));

    setVbr(false);
    ok();
    EXPECT_TRUE(closedWith(QDialog::Accepted));
    EXPECT_EQ(Settings().MinBitrate, 320);
    EXPECT_EQ(Settings().MaxBitrate, 32);
    EXPECT_FALSE(Settings().VBR);
    EXPECT_TRUE(optionsFile().contains("MaxBitrate=32\n"));
    EXPECT_TRUE(optionsFile().contains("MinBitrate=320\n"));
}

TEST_F(OptionsTest, OkStoresTheValuesTheItemsName) {
    pick("cboBitrate", "48 kb/s");
    pick("cboChannels", "Mono");
    pick("cboWAVChannels", "Mono");
    pick("cboFrequency", "11025");
    pick("cboBits", "8 Bits");
    setVbr(true);
    pick("cboMin", "64 kb/s");
    pick("cboMax", "192 kb/s");
    ok();
    EXPECT_TRUE(closedWith(QDialog::Accepted));
    EXPECT_EQ(Settings(), (SettingsRecord{48, 2, true, 64, 192, 11025, 1, 8}));
    EXPECT_EQ(optionsFile(), "[MP3]\nBitrate=48\nMp3Channels=2\nMaxBitrate=192\nMinBitrate=64\n"
                             "VBR=True\n[WAV]\nBits=8\nWavChannels=1\nFrequency=11025\n");

    startProgram();
    open();
    EXPECT_EQ(shown("cboBitrate"), "48 kb/s") << "the next start shows the saved choice";
    EXPECT_EQ(shown("cboChannels"), "Mono");
    EXPECT_EQ(shown("cboWAVChannels"), "Mono");
    EXPECT_TRUE(control<QCheckBox>("chkVBR")->isChecked());
    EXPECT_TRUE(list("cboMin")->isEnabled());
    pick("cboChannels", "Dual Channel");
    ok();
    EXPECT_EQ(Settings().Mp3Channels, 3);
}

TEST_F(OptionsTest, DefaultThenCancelChangesNothing) {
    const QByteArray stored = "[Renderer]\nSoundFont=/fonts/x.sf2\n[MP3]\nBitrate=256\nVBR=True\n"
                              "MinBitrate=64\n[WAV]\nBits=8\n";
    startProgram(stored);
    open();
    const SettingsRecord before = Settings();
    click("cmdOK(2)");
    EXPECT_EQ(shown("cboBitrate"), "128 kb/s");
    EXPECT_EQ(shown("cboBits"), "16 Bits");
    EXPECT_FALSE(control<QCheckBox>("chkVBR")->isChecked());
    EXPECT_FALSE(list("cboMin")->isEnabled()) << "Default clears VBR and so disables the range";
    EXPECT_TRUE(dialog->isVisible());
    click("cmdOK(1)");
    EXPECT_TRUE(closedWith(QDialog::Rejected));
    EXPECT_EQ(Settings(), before);
    EXPECT_EQ(SoundFontPath(), "/fonts/x.sf2");
    EXPECT_EQ(optionsFile(), stored);
}

TEST_F(OptionsTest, DefaultThenOkStoresTheDefaults) {
    startProgram(
        "[Renderer]\nSoundFont=/fonts/x.sf2\n[MP3]\nBitrate=256\n[WAV]\nBits=8\n[Mine]\nA=1\n");
    open();
    click("cmdOK(2)");
    EXPECT_EQ(control<QLabel>("lblSoundFont")->text(), "(automatic)");
    ok();
    EXPECT_EQ(Settings(), defaults());
    EXPECT_EQ(SoundFontPath(), "");
    EXPECT_EQ(optionsFile(), "[Renderer]\n[MP3]\nBitrate=128\nMp3Channels=0\nMaxBitrate=320\n"
                             "MinBitrate=32\nVBR=False\n[WAV]\nBits=16\nWavChannels=2\n"
                             "Frequency=44100\n[Mine]\nA=1\n");
}

TEST_F(OptionsTest, ValuesOutsideTheListsShowAndStoreTheDefaultItems) {
    startProgram("[MP3]\nBitrate=100\nMp3Channels=7\nMinBitrate=-1\nMaxBitrate=x\nVBR=maybe\n"
                 "[WAV]\nFrequency=12345\nWavChannels=0\nBits=24\n");
    open();
    EXPECT_EQ(Settings().Bitrate, 100) << "the store keeps what the file says";
    EXPECT_EQ(shown("cboBitrate"), "128 kb/s");
    EXPECT_EQ(shown("cboChannels"), "Stereo");
    EXPECT_EQ(shown("cboMin"), "32 kb/s");
    EXPECT_EQ(shown("cboFrequency"), "44100");
    EXPECT_EQ(shown("cboWAVChannels"), "Stereo");
    EXPECT_EQ(shown("cboBits"), "16 Bits");
    ok();
    EXPECT_TRUE(closedWith(QDialog::Accepted));
    EXPECT_EQ(Settings(), defaults());
    EXPECT_TRUE(optionsFile().contains("Bitrate=128\n"));
}

TEST_F(OptionsTest, VbrCheckBoxSwitchesTheRangeAndItsLabels) {
    auto* vbr = control<QCheckBox>("chkVBR");
    QTest::mouseClick(vbr, Qt::LeftButton, {}, QPoint(6, vbr->height() / 2));
    ASSERT_TRUE(vbr->isChecked());
    for (const char* name : {"cboMin", "cboMax", "Label3", "Label4", "cboBitrate"})
        EXPECT_TRUE(control(name)->isEnabled()) << name;
    QTest::mouseClick(vbr, Qt::LeftButton, {}, QPoint(6, vbr->height() / 2));
    for (const char* name : {"cboMin", "cboMax", "Label3", "Label4"})
        EXPECT_FALSE(control(name)->isEnabled()) << name;
    EXPECT_TRUE(list("cboBitrate")->isEnabled());
}

TEST_F(OptionsTest, ChosenSoundFontIsShownAndStoredBesideTheOtherSections) {
    startProgram("[Mine]\nKeep=this\n");
    open();
    const QString font = soundFontFile("My Piano.sf2", SoundFontHeader + "data");
    chooseSoundFont(font);
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].kind, platform::FileDialogKind::Open);
    EXPECT_EQ(dialogs.requests[0].filter, "SoundFont Files(*.sf2;*.sf3)|*.sf2;*.sf3");
    EXPECT_EQ(control<QLabel>("lblSoundFont")->text(), "My Piano.sf2");
    EXPECT_EQ(control<QLabel>("lblSoundFont")->toolTip(), font);
    dialogs.choices.push_back(std::nullopt);
    click("cmdSoundFont");
    EXPECT_EQ(dialog->chosenSoundFont(), font) << "cancelling the file dialog keeps the choice";
    ok();
    EXPECT_TRUE(closedWith(QDialog::Accepted));
    EXPECT_EQ(SoundFontPath(), font);
    EXPECT_TRUE(optionsFile().startsWith("[Mine]\nKeep=this\n"));
    EXPECT_EQ(ReadSoundFontPath(SettingsPath()), font);
    EXPECT_EQ(ReadIniValue("Mine", "Keep", "", SettingsPath()), "this");
}

TEST_F(OptionsTest, SoundFontKeySurvivesASaveOfTheOtherSettings) {
    startProgram("[Renderer]\nSoundFont=/fonts/gone.sf2\n");
    open();
    EXPECT_EQ(control<QLabel>("lblSoundFont")->toolTip(), "/fonts/gone.sf2");
    pick("cboBitrate", "192 kb/s");
    ok();
    EXPECT_TRUE(closedWith(QDialog::Accepted)) << "a stored choice is not checked again";
    EXPECT_EQ(ReadSoundFontPath(SettingsPath()), "/fonts/gone.sf2");
    EXPECT_EQ(ReadIniValue("MP3", "Bitrate", "", SettingsPath()), "192");
}

TEST_F(OptionsTest, OkRefusesAFileThatIsNoSoundFont) {
    const QString wave = soundFontFile("fake.sf2", QByteArray("RIFF\x04\x00\x00\x00WAVE", 12));
    const QString cut = soundFontFile("cut.sf3", "RIFF");
    for (const QString& bad : {wave, cut}) {
        chooseSoundFont(bad);
        pick("cboBitrate", "64 kb/s");
        ok();
        EXPECT_TRUE(dialog->isVisible());
        ASSERT_FALSE(boxes.shown.empty());
        EXPECT_EQ(boxes.shown.back().text, "This SoundFont cannot be used:\r\n" + bad +
                                               "\r\nThe file is not a SoundFont (.sf2 or .sf3).");
        EXPECT_EQ(boxes.shown.back().icon, platform::MsgIcon::Critical);
    }
    EXPECT_EQ(Settings().Bitrate, 128) << "nothing is taken while the dialog refuses";
    EXPECT_FALSE(QFile::exists(SettingsPath()));
    click("cmdOK(1)");
    EXPECT_EQ(SoundFontPath(), "");
}

TEST_F(OptionsTest, CancelDropsTheSoundFontChoice) {
    chooseSoundFont(soundFontFile("a.sf2", SoundFontHeader));
    dialog->close();
    EXPECT_TRUE(closedWith(QDialog::Rejected)) << "the close box is Cancel";
    EXPECT_EQ(SoundFontPath(), "");
    EXPECT_FALSE(QFile::exists(SettingsPath()));
}

TEST_F(OptionsTest, FailedSaveIsReportedAndTheNewValuesStillApply) {
    SetSettingsPath(program.filePath("missing/options.ini"));
    open();
    pick("cboBitrate", "320 kb/s");
    const QString font = soundFontFile("b.sf2", SoundFontHeader);
    chooseSoundFont(font);
    ok();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "The settings could not be saved to the file below:\r\n" +
                                       SettingsPath() + "\r\nThey apply until Quillory is closed.");
    EXPECT_TRUE(closedWith(QDialog::Accepted));
    EXPECT_EQ(Settings().Bitrate, 320);
    EXPECT_EQ(SoundFontPath(), font);
}

} // namespace
