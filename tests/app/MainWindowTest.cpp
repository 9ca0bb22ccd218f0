// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/Decoration.h"
#include "app/decoration/ProgressBar.h"
#include "app/main/frmMain.h"
#include "app/settings/RendererChoices.h"
#include "app/settings/Settings.h"
#include "app/shared/TempFiles.h"
#include "components/button/DappletButton.h"
#include "components/button/SkinButton.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/Drops.h"
#include "tests/support/EventWait.h"
#include "tests/support/FileHelpers.h"

#include <QAccessible>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <tuple>
#include <unistd.h>

namespace {

using platform::MsgAnswer;

using MainWindowTest = MainWindowFixture;

TEST_F(MainWindowTest, StartUpPlacesEveryControlAndSetsTheTitle) {
    EXPECT_EQ(window->windowTitle(), "Quillory 2.0");
    EXPECT_EQ(window->size(), QSize(463, 290));
    EXPECT_EQ(control("txtOpen")->geometry(), QRect(16, 80, 345, 19));
    EXPECT_EQ(control("txtSave")->geometry(), QRect(16, 128, 345, 19));
    EXPECT_EQ(window->surface().shapes[1].rect, QRect(15, 79, 347, 21)) << "shpOpen frames txtOpen";
    EXPECT_EQ(window->surface().shapes[2].rect, QRect(15, 127, 347, 21));
    EXPECT_EQ(button("cmdOpen")->geometry(), QRect(368, 79, 79, 21));
    EXPECT_EQ(button("cmdSave")->geometry(), QRect(368, 127, 79, 21));
    EXPECT_EQ(button("cmd(4)")->geometry(), QRect(368, 248, 79, 23));
    EXPECT_EQ(button("cmdConvert")->caption(), "Convert");
    EXPECT_EQ(button("cmd(0)")->caption(), "WAV->MP3...");
    EXPECT_EQ(button("cmd(4)")->foreColor(), 0xFF0000u);
    EXPECT_EQ(control("Label5")->pos(), QPoint(16, 16));
    EXPECT_TRUE(mp3());
    EXPECT_FALSE(wav());
    EXPECT_FALSE(window->isConverting());
}

TEST_F(MainWindowTest, EtchedSeparatorAndTintedPathBoxes) {
    const auto& lines = window->surface().lines;
    EXPECT_EQ(lines[0].line, QLine(-32, 224, 464, 224));
    EXPECT_EQ(lines[0].colour, 0xFF8080u);
    EXPECT_EQ(lines[1].line, QLine(0, 225, 496, 225));
    EXPECT_EQ(lines[1].colour, 0xFFFFFFu);
    // txtOpen's centre is 89.5: it keeps the colour of row 91.
    EXPECT_EQ(control("txtOpen")->palette().color(QPalette::Base),
              platform::ToQColor(BandRowColour(GradientEdge, GradientMiddle, 145, 91)));
    EXPECT_EQ(window->surface().image().pixelColor(100, 0), QColor(235, 246, 255));
    EXPECT_EQ(window->surface().image().pixelColor(100, 145), QColor(153, 211, 254));
}

TEST_F(MainWindowTest, SettingsAreLoadedFromTheProgramFolder) {
    WriteBytes(program.filePath("options.ini"), "[MP3]\nBitrate=192\n[wav]\nbits=8\n");
    Settings() = SettingsRecord{};
    open();
    EXPECT_EQ(SettingsPath(), program.filePath("options.ini"));
    EXPECT_EQ(Settings().Bitrate, 192);
    EXPECT_EQ(Settings().Bits, 8);
    EXPECT_EQ(Settings().Frequency, 44100);
}

TEST_F(MainWindowTest, SettingsBesideAReadOnlyProgramAreReadWhileTheUserHasNone) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    WriteBytes(program.filePath("options.ini"),
               "[MP3]\nBitrate=192\n[Renderer]\nSoundFont=/opt/sf/site.sf2\n");
    const ReadOnlyFolder readOnly(program.path());
    Settings() = SettingsRecord{};
    open();
    EXPECT_EQ(Settings().Bitrate, 192);
    EXPECT_EQ(SoundFontPath(), "/opt/sf/site.sf2");
    EXPECT_EQ(SettingsPath(), qEnvironmentVariable("XDG_CONFIG_HOME") + "/quillory/options.ini");
}

TEST_F(MainWindowTest, FocusStartsInTheSourceBoxAndTabFollowsTheOrder) {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(QApplication::focusWidget(), control("txtOpen"));
    QTest::keyClick(control("txtOpen"), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), control("txtSave"));
    QTest::keyClick(control("txtSave"), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), control("txtOpen"));
    EXPECT_TRUE(dialogs.requests.empty()) << "Tab moves the focus and opens no dialog";
    const char* const order[] = {"txtSave", "cmdOpen",      "cmdSave",    "optMP3",
                                 "OptWAV",  "cmdConfigure", "cmdConvert", "cmd(0)"};
    for (const char* name : order) {
        QWidget* next = QApplication::focusWidget()->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus)
            next = next->nextInFocusChain();
        EXPECT_EQ(next->objectName(), name);
        next->setFocus();
    }
}

TEST_F(MainWindowTest, TypingInAPathBoxOpensItsDialogOnlyWhileTheButtonIsEnabled) {
    dialogs.choices.push_back("/music/my song.mid");
    QTest::keyClick(control("txtOpen"), Qt::Key_A);
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].kind, platform::FileDialogKind::Open);
    EXPECT_EQ(control<QLineEdit>("txtOpen")->text(), "/music/my song.mid");
    QTest::keyClick(control("txtSave"), Qt::Key_Return);
    EXPECT_EQ(dialogs.requests.size(), 2u);
    EXPECT_EQ(dialogs.requests[1].kind, platform::FileDialogKind::Save);
    QTest::keyClick(control("txtSave"), Qt::Key_Shift);
    EXPECT_EQ(dialogs.requests.size(), 2u) << "a key without a character does nothing";
    button("cmdOpen")->setEnabled(false);
    button("cmdSave")->setEnabled(false);
    QTest::keyClick(control("txtOpen"), Qt::Key_B);
    QTest::keyClick(control("txtSave"), Qt::Key_B);
    EXPECT_EQ(dialogs.requests.size(), 2u);
    EXPECT_EQ(control<QLineEdit>("txtOpen")->text(), "/music/my song.mid") << "read-only box";
}

TEST_F(MainWindowTest, OpenDialogRequestAndCancelKeepsTheSource) {
    chooseSource("/m/a.mid");
    dialogs.choices.push_back(std::nullopt);
    click("cmdOpen");
    EXPECT_EQ(control<QLineEdit>("txtOpen")->text(), "/m/a.mid");
    const auto& r = dialogs.requests.back();
    EXPECT_EQ(r.filter, "MIDI Files(*.mid;*.midi)|*.mid;*.midi");
    EXPECT_EQ(r.flags, 0x281001);
    EXPECT_TRUE(r.fileName.isEmpty());
    EXPECT_TRUE(target().isEmpty()) << "the source never touches the target";
}

TEST_F(MainWindowTest, SaveDialogPutsTheCurrentTypeFirstAndStartsEmpty) {
    chooseTarget("/out/Song.WAV");
    const auto& first = dialogs.requests[0];
    EXPECT_EQ(first.filter, "MP3 Files(*.mp3)|*.mp3|WAV Files(*.wav)|*.wav");
    EXPECT_EQ(first.filterIndex, 1);
    EXPECT_EQ(first.flags, 0x280002);
    EXPECT_TRUE(first.fileName.isEmpty());
    EXPECT_TRUE(wav());
    EXPECT_FALSE(mp3());
    EXPECT_EQ(target(), "/out/Song.WAV");
    dialogs.choices.push_back(std::nullopt);
    click("cmdSave");
    EXPECT_EQ(dialogs.requests[1].filter, "WAV Files(*.wav)|*.wav|MP3 Files(*.mp3)|*.mp3");
    EXPECT_TRUE(dialogs.requests[1].fileName.isEmpty());
    EXPECT_EQ(target(), "/out/Song.WAV") << "Cancel keeps the target";
    EXPECT_TRUE(wav());
}

TEST_F(MainWindowTest, OptionButtonsSwapTheTargetExtension) {
    chooseTarget("/out dir/Song.WAV");
    QTest::mouseClick(control("optMP3"), Qt::LeftButton);
    EXPECT_EQ(target(), "/out dir/Song.mp3");
    EXPECT_TRUE(mp3());
    EXPECT_FALSE(wav());
    QTest::mouseClick(control("optMP3"), Qt::LeftButton);
    EXPECT_TRUE(mp3()) << "clicking the selected button keeps it selected";
    QTest::mouseClick(control("OptWAV"), Qt::LeftButton);
    EXPECT_EQ(target(), "/out dir/Song.wav");
}

TEST_F(MainWindowTest, TargetWithoutKnownExtensionClearsBothOptions) {
    chooseTarget("/out/Song");
    EXPECT_FALSE(mp3());
    EXPECT_FALSE(wav());
    QTest::mouseClick(control("OptWAV"), Qt::LeftButton);
    EXPECT_EQ(target(), "/out/Song");
    chooseTarget("/out/Song.mp3");
    EXPECT_TRUE(mp3());
    EXPECT_FALSE(wav());
}

TEST_F(MainWindowTest, EmptyTargetStaysEmpty) {
    QTest::mouseClick(control("OptWAV"), Qt::LeftButton);
    QTest::mouseClick(control("optMP3"), Qt::LeftButton);
    EXPECT_EQ(target(), "");
}

// What the desktop could not open is said, for Help with where the guide lies.
TEST_F(MainWindowTest, HelpAndVolumeControlGoThroughTheShellThatMaySayWhyNothingOpened) {
    WriteBytes(program.path() + "/quillory.chm", "ITSF");
    click("cmd(1)");
    click("cmd(3)");
    ASSERT_EQ(shell.requests.size(), 2u);
    EXPECT_EQ(shell.requests[0].operation, "open");
    EXPECT_EQ(shell.requests[0].file, program.path() + "/quillory.chm");
    EXPECT_EQ(shell.requests[0].parameters, "");
    EXPECT_EQ(shell.requests[1].file, "sndvol32.exe ");
    EXPECT_EQ(shell.requests[1].parameters, "/r");
    shell.failure = "no application on this computer opens it";
    click("cmd(1)");
    click("cmd(3)");
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, "The help could not be opened: " + shell.failure +
                                       ".\r\nThe guide is the below file:\r\n" +
                                       shell.requests[0].file);
    EXPECT_EQ(boxes.shown[1].text,
              "The volume control could not be opened: " + shell.failure + ".");
    EXPECT_EQ(boxes.shown[1].icon, platform::MsgIcon::Critical);
}

// The compiled help where the desktop shows it, else the HTML guide beside it; with neither
// file nothing is asked of the shell.
TEST_F(MainWindowTest, HelpFallsBackToTheGuideWhereNothingShowsTheCompiledHelp) {
    const QString chm = program.path() + "/quillory.chm";
    const QString guide = program.path() + "/guide/index.html";
    struct Case {
        bool chmThere;
        bool guideThere;
        bool chmViewer;
        QString opened;
    };
    const Case cases[] = {
        {true, true, true, chm},   {true, true, false, guide}, {false, true, true, guide},
        {true, false, false, chm}, {false, false, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.chmThere << c.guideThere << c.chmViewer);
        QFile::remove(chm);
        QDir(program.path() + "/guide").removeRecursively();
        if (c.chmThere)
            WriteBytes(chm, "ITSF");
        if (c.guideThere) {
            QDir(program.path()).mkpath("guide");
            WriteBytes(guide, "<html></html>");
        }
        shell.typesWithoutViewer = c.chmViewer ? QStringList() : QStringList{"chm"};
        shell.requests.clear();
        click("cmd(1)");
        ASSERT_EQ(shell.requests.size(), c.opened.isEmpty() ? 0u : 1u);
        if (!c.opened.isEmpty()) {
            EXPECT_EQ(shell.requests[0].file, c.opened);
        }
    }
    EXPECT_TRUE(boxes.shown.empty()) << "Help reports nothing";
}

TEST(BuiltProgramFolder, HoldsTheGuideWithEveryPageItLinksTo) {
    const QDir guide(QStringLiteral(BUILT_PROGRAM_FOLDER "/guide"));
    const QString index = QString::fromUtf8(ReadBytes(guide.filePath("index.html")));
    ASSERT_FALSE(index.isEmpty()) << guide.path().toStdString();
    const QRegularExpression link(QStringLiteral("href=\"([^\"#:]+)"));
    int pages = 0;
    for (const QRegularExpressionMatch& m : link.globalMatch(index)) {
        EXPECT_TRUE(QFileInfo(guide.filePath(m.captured(1))).isFile())
            << m.captured(1).toStdString();
        ++pages;
    }
    EXPECT_GE(pages, 3);
}

TEST_F(MainWindowTest, ExitAsksAndNoKeepsTheWindowOpen) {
    window->show();
    dialogs.choices.push_back("/a/b.mid");
    click("cmdOpen");
    boxes.answers = {MsgAnswer::No};
    click("cmd(4)");
    ASSERT_EQ(boxes.shown.size(), 1u);
    const auto& question = boxes.shown[0];
    EXPECT_EQ(question.text, "Are you sure to exit Quillory?");
    EXPECT_EQ(question.caption, "Quillory");
    EXPECT_EQ(question.buttons, platform::MsgButtons::YesNo);
    EXPECT_EQ(question.icon, platform::MsgIcon::Question);
    EXPECT_EQ(question.defaultAnswer, MsgAnswer::No);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(control<QLineEdit>("txtOpen")->text(), "/a/b.mid");
    boxes.answers = {MsgAnswer::Yes};
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
}

} // namespace

namespace {

TEST_F(MainWindowTest, ProgressBarIsCreatedThroughTheRegistryAndTinted) {
    auto* bar = control<ProgressBar>("pbCur");
    ASSERT_TRUE(bar->hasControl());
    EXPECT_EQ(bar->geometry(), QRect(16, 176, 345, 21));
    // Its centre is 186.5: the last row within two units is 188, in the lower band.
    EXPECT_EQ(bar->backColor(), BandRowColour(GradientMiddle, GradientEdge, 145, 188 - 145));
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(MainWindowTest, WithoutARegisteredBarTheWindowSaysSoAndGoesOn) {
    QFile::remove(qEnvironmentVariable("XDG_DATA_HOME") + "/controls/registry.ini");
    open();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.contains("Ombrel.OmbrelGauge")) << boxes.shown[0].text;
    EXPECT_TRUE(boxes.shown[0].text.contains("regctl")) << boxes.shown[0].text;
    EXPECT_FALSE(control<ProgressBar>("pbCur")->hasControl());
    EXPECT_EQ(window->windowTitle(), "Quillory 2.0");
}

} // namespace

namespace {

// Opens a window from a main-window button and notes its caption as it shows, then closes it.
QString captionOfModalOpenedBy(SkinButton* button) {
    QString caption;
    QTimer::singleShot(0, [&caption] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            caption = modal->windowTitle();
            modal->close();
        }
    });
    QTest::mouseClick(button, Qt::LeftButton);
    return caption;
}

TEST_F(MainWindowTest, ButtonsOpenTheirWindowsModally) {
    window->show();
    EXPECT_EQ(captionOfModalOpenedBy(button("cmdConfigure")), "Options");
    EXPECT_EQ(captionOfModalOpenedBy(button("cmd(2)")), "About Quillory");
    WriteBytes(WindowsFolder() + "/__qlr_4.wav", "left over");
    EXPECT_EQ(captionOfModalOpenedBy(button("cmd(0)")), "Convert WAV to MP3");
    EXPECT_FALSE(QFile::exists(WindowsFolder() + "/__qlr_4.wav"))
        << "closing the tool deletes the temporary files";
    EXPECT_FALSE(window->windowIcon().isNull());
}

} // namespace

namespace {

// What a screen reader reads of each control: its role, its caption or the label before it, the
// caption of its frame, and whether it can be typed in.
TEST_F(MainWindowTest, ScreenReadersReadEachControlByItsCaptionOrLabel) {
    const std::tuple<const char*, QAccessible::Role, QString, QString, bool> rows[] = {
        {"txtOpen", QAccessible::EditableText, "Open MIDI File:", "", true},
        {"txtSave", QAccessible::EditableText, "Save to File:", "", true},
        {"optMP3", QAccessible::RadioButton, "Convert MIDI to MP3", "Converting Type", false},
        {"OptWAV", QAccessible::RadioButton, "Convert MIDI to WAV", "Converting Type", false},
        {"lNow", QAccessible::StaticText, "Now:", "", true},
        {"cmd(0)", QAccessible::Button, "WAV->MP3...", "", false},
    };
    for (const auto& [name, role, text, description, readOnly] : rows) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control(name));
        EXPECT_EQ(face->role(), role) << name;
        EXPECT_EQ(face->text(QAccessible::Name), text) << name;
        EXPECT_EQ(face->text(QAccessible::Description), description) << name;
        EXPECT_EQ(bool(face->state().readOnly), readOnly) << name;
    }
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(control("optMP3"))->state().checked);
    auto* bar = QAccessible::queryAccessibleInterface(control("pbCur")->findChild<QWidget*>());
    EXPECT_EQ(bar->role(), QAccessible::ProgressBar);
    // An application's window is a frame, and a path box is read, never written, by a reader.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.get())->role(), QAccessible::Window);
    control<QLineEdit>("txtOpen")->setText("/music/song.mid");
    QAccessibleInterface* source = QAccessible::queryAccessibleInterface(control("txtOpen"));
    EXPECT_EQ(source->editableTextInterface(), nullptr);
    ASSERT_NE(source->textInterface(), nullptr);
    EXPECT_EQ(source->textInterface()->text(0, source->textInterface()->characterCount()),
              "/music/song.mid");
}

// A MIDI file named to the program or dropped on it becomes the source, the first of several
// with a word; anything else is refused with its path; nothing is taken during a run.
TEST_F(MainWindowTest, AFileFromOutsideBecomesTheSource) {
    const QString song = program.filePath("song.mid"), notes = program.filePath("notes.txt");
    WriteBytes(song, "MThd");
    WriteBytes(notes, "not music");
    window->openFile(song);
    EXPECT_EQ(control<QLineEdit>("txtOpen")->text(), song);
    EXPECT_EQ(target(), "");
    control<QLineEdit>("txtOpen")->clear();
    DragFiles(window.get(), {song, notes});
    DragFiles(window.get(), {notes});
    DragFiles(window.get(), {program.filePath("gone.mid")});
    EXPECT_EQ(control<QLineEdit>("txtOpen")->text(), song);
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[0].text,
              "2 files were dropped; Quillory takes one at a time, the first:\r\n" + song);
    EXPECT_EQ(boxes.shown[1].text, "The below file is not a MIDI file or a WAV file:\r\n" + notes);
    EXPECT_EQ(boxes.shown[2].text,
              "The below file is not existing:\r\n" + program.filePath("gone.mid"));
    chooseTarget(program.filePath("out.wav"));
    click("cmdConvert");
    EXPECT_FALSE(DragFiles(window.get(), {song}, false)) << "no drop cursor during a run";
}

TEST_F(MainWindowTest, AWavFileOpensTheToolWithItAsItsSource) {
    WriteBytes(program.filePath("take.wav"), "RIFF");
    QString source;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* tool = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            source = tool->findChild<QLineEdit*>("txtWAV")->text();
            tool->reject();
        }
    });
    poll.start(10);
    window->openFile(program.filePath("take.wav"));
    EXPECT_TRUE(WaitUntil([&] { return source == program.filePath("take.wav"); }, 10000));
}

// The dialogs open where they last chose a file, also after a restart, with an empty name.
TEST_F(MainWindowTest, DialogsOpenWhereTheyLastChoseAFileAlsoAfterARestart) {
    QTemporaryDir songs, renders;
    chooseSource(songs.filePath("a.mid"));
    chooseTarget(renders.filePath("a.mp3"));
    open();
    click("cmdOpen");
    click("cmdSave");
    ASSERT_EQ(dialogs.requests.size(), 4u);
    EXPECT_EQ(dialogs.requests[2].initDir, songs.path());
    EXPECT_EQ(dialogs.requests[3].initDir, renders.path());
    EXPECT_EQ(dialogs.requests[2].fileName + dialogs.requests[3].fileName, "");
    EXPECT_TRUE(QFile::exists(qEnvironmentVariable("XDG_STATE_HOME") + "/quillory/state.ini"));
}

// F1 and Ctrl+Q do what Help and Exit do, only while those buttons may be pressed.
TEST_F(MainWindowTest, F1OpensHelpAndCtrlQClosesAsExitDoes) {
    WriteBytes(program.path() + "/quillory.chm", "ITSF");
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const auto keys = [&] {
        QTest::keyClick(window.get(), Qt::Key_F1);
        QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
    };
    keys();
    EXPECT_EQ(shell.requests.at(0).file, program.path() + "/quillory.chm");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Are you sure to exit Quillory?");
    EXPECT_TRUE(window->isVisible()) << "answered No";
    WriteBytes(program.filePath("a.mid"), "MThd");
    chooseSource(program.filePath("a.mid"));
    chooseTarget(program.filePath("a.wav"));
    click("cmdConvert");
    keys();
    EXPECT_EQ(shell.requests.size(), 2u) << "Help stays usable during a run";
    EXPECT_EQ(boxes.shown.size(), 1u) << "Exit does not";
}

} // namespace
