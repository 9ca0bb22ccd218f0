// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The Options dialog against a real settings file: what it shows, what OK stores, what Cancel
// and Default leave alone, and the SoundFont choice.
#include "app/decoration/Decoration.h"
#include "app/settings/frmOptions.h"
#include "tests/app/dialogs/DialogTestSupport.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

namespace {

const QString RealSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
const SettingsRecord Defaults{128, 0, false, 32, 320, 44100, 2, 16};

class OptionsTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        open();
    }
    void open() {
        dialog = std::make_unique<frmOptions>(nullptr, RealButtons());
        dialog->show();
    }
    template <typename T = QWidget>
    T* control(const char* name) {
        T* found = dialog->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString shown(const char* list) { return control<QComboBox>(list)->currentText(); }
    void pick(const char* list, const QString& text) {
        auto* l = control<QComboBox>(list);
        ASSERT_GE(l->findText(text), 0) << qPrintable(text);
        l->setCurrentIndex(l->findText(text));
    }
    bool vbrChecked() { return control<QCheckBox>("chkVBR")->isChecked(); }
    void click(const char* button) {
        QTest::mouseClick(control<SkinButton>(button), Qt::LeftButton);
    }
    // A newly chosen SoundFont is loaded first, on a worker thread.
    void ok() {
        click("cmdOK(0)");
        EXPECT_TRUE(
            WaitUntil([&] { return !dialog->isVisible() || control("cmdOK(0)")->isEnabled(); }));
    }
    bool closedWith(QDialog::DialogCode code) {
        return !dialog->isVisible() && dialog->result() == code;
    }
    bool rangeEnabled(bool expected) {
        bool all = true;
        for (const char* name : {"cboMin", "cboMax", "Label3", "Label4"})
            all &= control(name)->isEnabled() == expected;
        return all && control("cboBitrate")->isEnabled();
    }
    QString fileWith(const char* name, const QByteArray& bytes) {
        WriteBytes(program.filePath(name), bytes);
        return program.filePath(name);
    }
    QString realSoundFont(const char* name) {
        QFile::link(RealSoundFont, program.filePath(name));
        return program.filePath(name);
    }
    QLineEdit* soundFontField() { return control<QLineEdit>("txtSoundFont"); }
    void chooseSoundFont(const std::optional<QString>& path) {
        dialogs.choices.push_back(path);
        click("cmdSoundFont");
    }

    std::unique_ptr<frmOptions> dialog;
};

TEST_F(OptionsTest, FirstStartShowsTheDefaultsOnEtchedFrames) {
    EXPECT_EQ(dialog->windowTitle(), "Options");
    EXPECT_EQ(dialog->size(), QSize(378, 363));
    const QStringList expected{"128 kb/s", "Stereo", "32 kb/s", "320 kb/s",
                               "44100",    "Stereo", "16 Bits"};
    EXPECT_EQ(
        (QStringList{shown("cboBitrate"), shown("cboChannels"), shown("cboMin"), shown("cboMax"),
                     shown("cboFrequency"), shown("cboWAVChannels"), shown("cboBits")}),
        expected);
    EXPECT_FALSE(vbrChecked());
    EXPECT_TRUE(rangeEnabled(false));
    EXPECT_EQ(soundFontField()->text(), "(automatic)");
    EXPECT_FALSE(QFile::exists(SettingsPath())) << "opening writes nothing";

    const auto& shapes = dialog->surface().shapes;
    ASSERT_EQ(shapes.size(), 4u);
    EXPECT_EQ(shapes[1].rect, QRect(16, 16, 249, 193));
    EXPECT_EQ(shapes[0].rect, QRect(17, 17, 249, 193));
    EXPECT_EQ(shapes[2].rect, shapes[3].rect.translated(1, 1));
    EXPECT_EQ(shapes[2].border, 0xFFFFFFu);
    EXPECT_EQ(shapes[3].border, control<SkinButton>("cmdOK(0)")->accentColor());
    // cboMin spans rows 136..156, centre 146.5: it keeps row 148 of the upper band (rows 0..181).
    EXPECT_EQ(control("cboMin")->palette().color(QPalette::Base),
              platform::ToQColor(BandRowColour(GradientEdge, GradientMiddle, 181, 148)));
}

TEST_F(OptionsTest, RangeMustRiseWhileVbrIsOnAndIsStoredAsItStandsWhenOff) {
    control<QCheckBox>("chkVBR")->setChecked(true);
    for (const auto& [min, max] : {std::pair{"128 kb/s", "128 kb/s"}, {"320 kb/s", "32 kb/s"}}) {
        pick("cboMin", min);
        pick("cboMax", max);
        ok();
    }
    ASSERT_EQ(boxes.shown.size(), 2u);
    for (const auto& box : boxes.shown) {
        EXPECT_EQ(box.text, "Min Bitrate Must be smaller than Max Bitrate!");
        EXPECT_EQ(box.caption, "Quillory");
        EXPECT_EQ(box.icon, platform::MsgIcon::Critical);
    }
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Settings(), Defaults);
    EXPECT_FALSE(QFile::exists(SettingsPath()));

    control<QCheckBox>("chkVBR")->setChecked(false);
    ok();
    EXPECT_TRUE(closedWith(QDialog::Accepted));
    EXPECT_EQ(Settings().MinBitrate, 320);
    EXPECT_EQ(Settings().MaxBitrate, 32);
    EXPECT_TRUE(optionsFile().contains("MaxBitrate=32\nMinBitrate=320\nVBR=False\n"));
}

TEST_F(OptionsTest, OkStoresTheValuesTheItemsNameAndTheNextStartShowsThem) {
    pick("cboBitrate", "48 kb/s");
    pick("cboChannels", "Mono");
    pick("cboWAVChannels", "Mono");
    pick("cboFrequency", "11025");
    pick("cboBits", "8 Bits");
    control<QCheckBox>("chkVBR")->setChecked(true);
    pick("cboMin", "64 kb/s");
    pick("cboMax", "192 kb/s");
    ok();
    EXPECT_EQ(Settings(), (SettingsRecord{48, 2, true, 64, 192, 11025, 1, 8}));
    EXPECT_EQ(optionsFile(), "[MP3]\nBitrate=48\nMp3Channels=2\nMaxBitrate=192\nMinBitrate=64\n"
                             "VBR=True\n[WAV]\nBits=8\nWavChannels=1\nFrequency=11025\n");
    startProgram();
    open();
    EXPECT_EQ(shown("cboBitrate"), "48 kb/s");
    EXPECT_EQ(shown("cboWAVChannels"), "Mono");
    EXPECT_TRUE(rangeEnabled(true));
    pick("cboChannels", "Dual Channel");
    ok();
    EXPECT_EQ(Settings().Mp3Channels, 3);
}

TEST_F(OptionsTest, DefaultThenCancelChangesNothing) {
    const QByteArray stored = "[Renderer]\nSoundFont=/fonts/x.sf2\n[MP3]\nBitrate=256\nVBR=True\n";
    startProgram(stored);
    open();
    const SettingsRecord before = Settings();
    click("cmdOK(2)");
    EXPECT_EQ(shown("cboBitrate"), "128 kb/s");
    EXPECT_FALSE(vbrChecked());
    EXPECT_TRUE(rangeEnabled(false)) << "clearing VBR disables the range";
    click("cmdOK(1)");
    EXPECT_TRUE(closedWith(QDialog::Rejected));
    EXPECT_EQ(Settings(), before);
    EXPECT_EQ(SoundFontPath(), "/fonts/x.sf2");
    EXPECT_EQ(optionsFile(), stored);
}

TEST_F(OptionsTest, DefaultThenOkStoresTheDefaultsAndKeepsOtherSections) {
    startProgram(
        "[Renderer]\nSoundFont=/fonts/x.sf2\n[MP3]\nBitrate=256\n[WAV]\nBits=8\n[Mine]\nA=1\n");
    open();
    click("cmdOK(2)");
    ok();
    EXPECT_EQ(Settings(), Defaults);
    EXPECT_EQ(SoundFontPath(), "");
    EXPECT_EQ(optionsFile(), "[Renderer]\n[MP3]\nBitrate=128\nMp3Channels=0\nMaxBitrate=320\n"
                             "MinBitrate=32\nVBR=False\n[WAV]\nBits=16\nWavChannels=2\n"
                             "Frequency=44100\n[Mine]\nA=1\n");
}

TEST_F(OptionsTest, ValuesOutsideTheListsShowAndStoreTheDefaultItems) {
    startProgram("[MP3]\nBitrate=100\nMp3Channels=7\nMinBitrate=-1\nMaxBitrate=x\n"
                 "[WAV]\nFrequency=12345\nWavChannels=0\nBits=24\n");
    open();
    EXPECT_EQ(shown("cboBitrate"), "128 kb/s");
    EXPECT_EQ(shown("cboFrequency"), "44100");
    ok();
    EXPECT_TRUE(closedWith(QDialog::Accepted));
    EXPECT_EQ(Settings(), Defaults);
}

TEST_F(OptionsTest, VbrCheckBoxSwitchesTheRangeAndItsLabels) {
    auto* vbr = control<QCheckBox>("chkVBR");
    QTest::mouseClick(vbr, Qt::LeftButton, {}, QPoint(6, vbr->height() / 2));
    EXPECT_TRUE(rangeEnabled(true));
    QTest::mouseClick(vbr, Qt::LeftButton, {}, QPoint(6, vbr->height() / 2));
    EXPECT_TRUE(rangeEnabled(false));
}

TEST_F(OptionsTest, ChosenSoundFontIsShownAndStoredAndSurvivesLaterSaves) {
    startProgram("[Mine]\nKeep=this\n");
    open();
    const QString font = realSoundFont("My Piano.sf2");
    chooseSoundFont(font);
    chooseSoundFont(std::nullopt);
    EXPECT_EQ(dialogs.requests[0].filter, "SoundFont Files(*.sf2;*.sf3)|*.sf2;*.sf3");
    EXPECT_EQ(soundFontField()->text(), "My Piano.sf2") << "Cancel keeps the choice";
    EXPECT_EQ(soundFontField()->toolTip(), font);
    ok();
    EXPECT_EQ(SoundFontPath(), font);
    EXPECT_EQ(ReadSoundFontPath(SettingsPath()), font);
    EXPECT_TRUE(optionsFile().startsWith("[Mine]\nKeep=this\n"));

    QFile::remove(font);
    open();
    pick("cboBitrate", "192 kb/s");
    ok();
    EXPECT_TRUE(closedWith(QDialog::Accepted)) << "a stored choice is not checked again";
    EXPECT_EQ(ReadSoundFontPath(SettingsPath()), font);
    EXPECT_EQ(ReadIniValue("MP3", "Bitrate", "", SettingsPath()), "192");
}

// The field's own clear control, or Delete in it, goes back to the automatic SoundFont alone.
TEST_F(OptionsTest, ClearingTheSoundFontFieldGoesBackToAutomaticAlone) {
    startProgram("[Renderer]\nSoundFont=/fonts/x.sf2\n[MP3]\nBitrate=256\n");
    open();
    auto* clear = soundFontField()->findChild<QToolButton*>();
    ASSERT_TRUE(clear && clear->isVisible());
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_EQ(soundFontField()->text(), "(automatic)");
    EXPECT_FALSE(clear->isVisible());
    ok();
    EXPECT_EQ(ReadSoundFontPath(SettingsPath()), "");
    EXPECT_EQ(ReadIniValue("MP3", "Bitrate", "", SettingsPath()), "256");
    open();
    chooseSoundFont(realSoundFont("mine.sf2"));
    QTest::keyClick(soundFontField(), Qt::Key_Delete);
    EXPECT_EQ(soundFontField()->text(), "(automatic)");
}

TEST_F(OptionsTest, OkRefusesAFileThatIsNoSoundFontAndCancelDropsTheChoice) {
    const QString notSoundFont = "\r\nThe file is not a SoundFont (.sf2 or .sf3).";
    const std::pair<QString, QString> refused[] = {
        {fileWith("wave.sf2", QByteArray("RIFF\x04\x00\x00\x00WAVE", 12)), notSoundFont},
        {fileWith("cut.sf3", "RIFF"), notSoundFont},
        {fileWith("rifx.sf2", QByteArray("RIFX\x04\x00\x00\x00sfbk", 12)), notSoundFont},
        {program.filePath("gone.sf2"), "\r\nThe file does not exist."},
        {program.path(), "\r\nThis is a folder, not a file."},
        // A real SoundFont cut short: its header is sound.
        {fileWith("cut.sf2", ReadBytes(RealSoundFont).left(5120)),
         "\r\nFluidSynth cannot load it: SoundFont file size mismatch."}};
    for (const auto& [bad, reason] : refused) {
        chooseSoundFont(bad);
        ok();
        ASSERT_FALSE(boxes.shown.empty());
        EXPECT_EQ(boxes.shown.back().text, "This SoundFont cannot be used:\r\n" + bad + reason);
    }
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(QFile::exists(SettingsPath()));
    chooseSoundFont(realSoundFont("good.sf2"));
    dialog->close();
    EXPECT_TRUE(closedWith(QDialog::Rejected)) << "the close box is Cancel";
    EXPECT_EQ(SoundFontPath(), "");
    EXPECT_FALSE(QFile::exists(SettingsPath()));
}

TEST_F(OptionsTest, TheLoudnessBoxStoresMinus16OrOffAndKeepsATargetWrittenByHand) {
    auto* box = control<QCheckBox>("chkLoudness");
    EXPECT_TRUE(box->text().simplified() == "Even out the volume") << box->text().toStdString();
    EXPECT_TRUE(box->isChecked()) << "evened out unless the file says otherwise";
    ok();
    EXPECT_FALSE(optionsFile().contains("Loudness")) << "an unchanged choice is not written";

    open();
    box = control<QCheckBox>("chkLoudness");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    EXPECT_FALSE(box->isChecked());
    click("cmdOK(1)");
    EXPECT_TRUE(Loudness().even) << "Cancel keeps the choice";
    open();
    control<QCheckBox>("chkLoudness")->setChecked(false);
    ok();
    EXPECT_FALSE(Loudness().even);
    EXPECT_TRUE(optionsFile().contains("[Renderer]\nLoudness=Off\n"));
    startProgram();
    open();
    EXPECT_FALSE(control<QCheckBox>("chkLoudness")->isChecked());
    control<QCheckBox>("chkLoudness")->setChecked(true);
    ok();
    EXPECT_TRUE(optionsFile().contains("[Renderer]\nLoudness=-16\n"));

    // A target written into the file by hand stays while the box stays checked; Default is -16.
    startProgram("[Renderer]\nLoudness=-20\n");
    open();
    EXPECT_TRUE(control<QCheckBox>("chkLoudness")->isChecked());
    pick("cboBitrate", "192 kb/s");
    ok();
    EXPECT_EQ(Loudness(), (LoudnessChoice{true, -20.0}));
    EXPECT_TRUE(optionsFile().contains("Loudness=-20\n"));
    open();
    control<QCheckBox>("chkLoudness")->setChecked(false);
    control<QCheckBox>("chkLoudness")->setChecked(true);
    ok();
    EXPECT_EQ(Loudness(), (LoudnessChoice{true, -20.0})) << "unchecked and checked again";
    open();
    click("cmdOK(2)");
    ok();
    EXPECT_EQ(Loudness(), (LoudnessChoice{true, -16.0}));
    EXPECT_TRUE(optionsFile().contains("Loudness=-16\n"));
}

TEST_F(OptionsTest, TheLoudnessBoxFitsTheButtonColumnUnderTheSoundFont) {
    const QRect box = control("chkLoudness")->geometry();
    EXPECT_TRUE(dialog->rect().contains(box));
    EXPECT_GE(box.top(), control("txtSoundFont")->geometry().bottom());
    EXPECT_EQ(box.left(), control("cmdSoundFont")->x());
    for (const char* other : {"cmdSoundFont", "txtSoundFont", "cboMax", "LabelWAV"})
        EXPECT_FALSE(box.intersects(control(other)->geometry())) << other;
    // The caption is not cut off.
    const QSize needed = control("chkLoudness")->sizeHint();
    EXPECT_LE(needed.width(), box.width());
    EXPECT_LE(needed.height(), box.height());
}

// A screen reader names each list by its label (on Linux through the list's "labelled by"
// relation) and its frame; each label ends before its list whatever the face's metrics.
TEST_F(OptionsTest, ScreenReadersNameEachListByItsLabelWhichEndsBeforeIt) {
    const std::tuple<const char*, const char*, QString> rows[] = {
        {"Label1", "cboBitrate", "MP3 Settings"},
        {"Label4", "cboMax", "MP3 Settings"},
        {"Label8", "cboFrequency", "WAV Settings"},
        {"Label7", "cboBits", "WAV Settings"}};
    for (const auto& [label, list, frame] : rows) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control(list));
        EXPECT_EQ(face->relations(QAccessible::Label).value(0).first->object(), control(label));
        EXPECT_EQ(face->text(QAccessible::Description), frame) << list;
        EXPECT_LT(control(label)->geometry().right(), control(list)->x()) << label;
    }
}

// Qt on Linux names a list by the item it shows, so that both channel lists were "Stereo": each
// list is named by the words of its label, and its item is its value.
TEST_F(OptionsTest, ScreenReadersHearEachListByItsLabelAndItsItemAsItsValue) {
    const std::pair<const char*, QString> lists[] = {
        {"cboBitrate", "Bitrate"},     {"cboChannels", "Channels Mode"},
        {"cboMin", "Bitrate Min"},     {"cboMax", "Bitrate Max"},
        {"cboFrequency", "Frequency"}, {"cboWAVChannels", "Channels"},
        {"cboBits", "Bits Per Sample"}};
    // A reader reads the value from the item selected in the list that drops down.
    const auto selectedItems = [](QAccessibleInterface* face) {
        QStringList selected;
        QAccessibleInterface* items = face->child(0);
        for (int i = 0; items && i < items->childCount(); ++i) {
            if (items->child(i)->state().selected)
                selected << items->child(i)->text(QAccessible::Name);
        }
        return selected;
    };
    for (const auto& [list, name] : lists) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control(list));
        EXPECT_EQ(face->role(), QAccessible::ComboBox) << list;
        EXPECT_EQ(face->text(QAccessible::Name), name) << list;
        EXPECT_EQ(face->text(QAccessible::Value), shown(list)) << list;
        EXPECT_EQ(selectedItems(face), QStringList{shown(list)}) << list;
    }
    pick("cboWAVChannels", "Mono");
    auto* channels = QAccessible::queryAccessibleInterface(control("cboWAVChannels"));
    EXPECT_EQ(channels->text(QAccessible::Value), "Mono");
    EXPECT_EQ(selectedItems(channels), QStringList{"Mono"});
    auto* loudness = QAccessible::queryAccessibleInterface(control("chkLoudness"));
    EXPECT_EQ(loudness->text(QAccessible::Name), "Even out the volume");
}

// The SoundFont field has a name, offers its text to read but not to replace, and holds its
// clear control only while that is shown, as a button a reader can press.
TEST_F(OptionsTest, ScreenReadersReadTheSoundFontFieldAndPressItsClearControlWhenShown) {
    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(soundFontField());
    EXPECT_EQ(field->text(QAccessible::Name), "SoundFont");
    EXPECT_TRUE(field->state().readOnly);
    EXPECT_EQ(field->editableTextInterface(), nullptr);
    EXPECT_EQ(field->childCount(), 0);
    chooseSoundFont(realSoundFont("piano.sf2"));
    ASSERT_NE(field->textInterface(), nullptr);
    EXPECT_EQ(field->textInterface()->text(0, field->textInterface()->characterCount()),
              "piano.sf2");
    ASSERT_EQ(field->childCount(), 1);
    QAccessibleInterface* clear = field->child(0);
    EXPECT_EQ(clear->role(), QAccessible::Button);
    EXPECT_EQ(clear->text(QAccessible::Name), "Automatic SoundFont");
    clear->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(WaitUntil([&] { return soundFontField()->text() == "(automatic)"; }));
    EXPECT_EQ(field->childCount(), 0);
}

// Where the dark pixels of a text lie in a rectangle of the window (device pixels): its
// baseline, the last row that many of its letters reach (a descender reaches below with few),
// and its rightmost column.
struct Ink {
    int baseline = -1;
    int right = -1;
};

Ink InkIn(const QImage& image, QRect area) {
    std::vector<int> perRow(area.height());
    Ink ink;
    for (int y = 0; y < area.height(); ++y) {
        for (int x = 0; x < area.width(); ++x) {
            if (qGray(image.pixel(area.x() + x, area.y() + y)) < 128) {
                ++perRow[y];
                ink.right = std::max(ink.right, area.x() + x);
            }
        }
    }
    const int most = *std::max_element(perRow.begin(), perRow.end());
    for (int y = 0; y < area.height(); ++y) {
        if (most > 0 && perRow[y] * 3 >= most)
            ink.baseline = area.y() + y;
    }
    return ink;
}

// Each label ends clear of its list and its text stands on the baseline of the list's, at one
// and at two device pixels to the pixel; the stored layout put the labels 4 pixels higher and
// let "Bits Per Sample:" run into its list.
TEST_F(OptionsTest, LabelsStandOnTheBaselineOfTheirListsAndClearOfThemAtOneAndTwoTimes) {
    control<QCheckBox>("chkVBR")->setChecked(true);
    const std::pair<const char*, const char*> rows[] = {
        {"Label1", "cboBitrate"}, {"Label2", "cboChannels"},  {"Label3", "cboMin"},
        {"Label4", "cboMax"},     {"Label8", "cboFrequency"}, {"Label9", "cboWAVChannels"},
        {"Label7", "cboBits"}};
    for (const int scale : {1, 2}) {
        QImage shot(dialog->size() * scale, QImage::Format_RGB32);
        shot.setDevicePixelRatio(scale);
        dialog->render(&shot);
        const auto device = [scale](QRect r) {
            return QRect(r.topLeft() * scale, r.size() * scale);
        };
        for (const auto& [label, list] : rows) {
            const QRect box = control(list)->geometry();
            // The list's text, inside its frame and left of its arrow.
            const Ink item = InkIn(shot, device(box.adjusted(3, 3, -24, -3)));
            const Ink words = InkIn(shot, device(control(label)->geometry()));
            ASSERT_GE(item.baseline, 0) << list;
            ASSERT_GE(words.baseline, 0) << label;
            EXPECT_LE(std::abs(words.baseline - item.baseline), scale)
                << label << " at " << scale << "x: " << words.baseline << " against "
                << item.baseline;
            EXPECT_LT(words.right, (box.x() - 2) * scale) << label << " at " << scale << "x";
        }
    }
}

// With VBR off, "Bitrate Min" and "Bitrate Max" are switched off and still readable on the
// gradient: their darkest pixels stand at 4.5 to 1 or more against the colour beside them.
TEST_F(OptionsTest, SwitchedOffRangeLabelsStayReadable) {
    ASSERT_FALSE(vbrChecked());
    const QImage shot = dialog->grab().toImage();
    const auto luminance = [](QRgb c) {
        const auto channel = [](int v) {
            const double s = v / 255.0;
            return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
    };
    for (const char* name : {"Label3", "Label4"}) {
        const QRect area = control(name)->geometry();
        ASSERT_FALSE(control(name)->isEnabled());
        double darkest = 1.0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x)
                darkest = std::min(darkest, luminance(shot.pixel(x, y)));
        }
        const double behind = luminance(shot.pixel(area.left() - 2, area.center().y()));
        EXPECT_GE((behind + 0.05) / (darkest + 0.05), 4.5) << name;
    }
}

TEST_F(OptionsTest, FailedSaveIsReportedAndTheNewValuesStillApply) {
    SetSettingsPath(program.filePath("missing/options.ini"));
    open();
    pick("cboBitrate", "320 kb/s");
    const QString font = realSoundFont("b.sf2");
    chooseSoundFont(font);
    ok();
    EXPECT_EQ(texts(), QStringList{"The settings could not be saved to the file below:\r\n" +
                                   SettingsPath() + "\r\nThey apply until Quillory is closed."});
    EXPECT_TRUE(closedWith(QDialog::Accepted));
    EXPECT_EQ(Settings().Bitrate, 320);
    EXPECT_EQ(SoundFontPath(), font);
}

} // namespace
