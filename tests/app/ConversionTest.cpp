// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/ProgressBar.h"
#include "app/main/PlayingTime.h"
#include "app/settings/RendererChoices.h"
#include "app/settings/Settings.h"
#include "app/shared/ConversionState.h"
#include "app/shared/TempFiles.h"
#include "platform/Files.h"
#include "tests/app/MainWindowFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace {

using platform::MsgAnswer;

class ConversionTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        source = files.filePath("my song.mid");
        WriteBytes(source, "MThd");
    }
    void choose(const QString& targetName) {
        chooseSource(source);
        chooseTarget(files.filePath(targetName));
    }
    QStringList workFiles() { return QDir(WindowsFolder()).entryList(QDir::Files, QDir::Name); }
    QString lastMessage() { return boxes.shown.empty() ? QString() : boxes.shown.back().text; }

    QTemporaryDir files;
    QString source;
};

TEST(PlayingTime, FormatsSecondsThenMinutes) {
    EXPECT_EQ(FormatTime(0), "0");
    EXPECT_EQ(FormatTime(60000), "60");
    EXPECT_EQ(FormatTime(61000), "1:1");
    EXPECT_EQ(FormatTime(125000), "2:5");
    EXPECT_EQ(FormatTime(62500), "1:2") << "62.5 s rounds to even: 62 s";
    EXPECT_EQ(FormatTime(60500), "60") << "60.5 s rounds to 60";
    EXPECT_EQ(FormatTime(63500), "1:4");
    EXPECT_EQ(FormatTime(3600000), "60:0");
    EXPECT_EQ(FormatTime(36000000), "600:0") << "ten hours, beyond 16-bit seconds";
    EXPECT_EQ(ElapsedMs(50, 125000), 62500);
    EXPECT_EQ(ElapsedMs(100, 36000000), 36000000) << "beyond 32-bit products";
    EXPECT_EQ(ElapsedMs(1, 50), 0) << "0.5 ms rounds to even";
    EXPECT_EQ(ElapsedMs(3, 50), 2) << "1.5 ms rounds to even";
}

TEST_F(ConversionTest, ChecksComeInOrderWithTheirMessages) {
    click("cmdConvert");
    EXPECT_EQ(lastMessage(), "Please open an MIDI file!");
    EXPECT_EQ(boxes.shown.back().icon, platform::MsgIcon::Critical);
    EXPECT_EQ(boxes.shown.back().caption, "Quillory");
    chooseSource(files.filePath("gone.mid"));
    click("cmdConvert");
    EXPECT_EQ(lastMessage(), "Please enter a file name to save!");
    chooseTarget(files.filePath("out.wav"));
    click("cmdConvert");
    EXPECT_EQ(lastMessage(), "The below file is not existing:\r\n" + files.filePath("gone.mid"));
    EXPECT_FALSE(window->isConverting());
    EXPECT_TRUE(renderer->calls.isEmpty());
}

TEST_F(ConversionTest, OverwriteNoChangesNothingAndYesKeepsTheOldFileUntilAResult) {
    choose("old.wav");
    WriteBytes(target(), "precious");
    boxes.answers = {MsgAnswer::No};
    click("cmdConvert");
    EXPECT_EQ(lastMessage(),
              "The below file is already existed,\r\nDo you want to overwrite it?\r\n" + target());
    EXPECT_EQ(boxes.shown.back().buttons, platform::MsgButtons::YesNo);
    EXPECT_EQ(ReadBytes(target()), "precious");
    EXPECT_FALSE(window->isConverting());
    EXPECT_TRUE(renderer->calls.isEmpty());

    renderer->createTarget = false;
    boxes.answers = {MsgAnswer::Yes};
    click("cmdConvert");
    EXPECT_TRUE(window->isConverting());
    emit renderer->RenderFailed("The disk is full.");
    renderer->accept = false;
    boxes.answers = {MsgAnswer::Yes};
    click("cmdConvert");
    EXPECT_EQ(ReadBytes(target()), "precious") << "a run that fails or is refused leaves it";
}

TEST_F(ConversionTest, WavRunUsesTheWavSettingsAndTheTargetItself) {
    Settings().Frequency = 22050;
    Settings().Bits = 8;
    Settings().WavChannels = 1;
    choose("song.wav");
    click("cmdConvert");
    EXPECT_EQ(renderer->calls, (QStringList{"ChannelCount=1", "BitsPerSample=8", "SampleRate=22050",
                                            "Render " + source + " -> " + target()}));
    EXPECT_EQ(text("lTotal"), "Total: 2:5");
    EXPECT_EQ(text("lNow"), "Now:") << "only Total is refreshed at the start";
}

TEST_F(ConversionTest, TheChosenSoundFontReachesTheRenderer) {
    WriteBytes(program.filePath("options.ini"), "[Renderer]\nSoundFont=/fonts/My GM.sf2\n");
    open();
    choose("song.wav");
    click("cmdConvert");
    EXPECT_EQ(renderer->soundFont, "/fonts/My GM.sf2");
}

// The renderer of an MP3's source is told the MP3 settings, so it evens the song out for them.
TEST_F(ConversionTest, TheLoudnessChoiceTheMp3SettingsAndTheWorkFolderReachTheRenderer) {
    choose("song.wav");
    click("cmdConvert");
    EXPECT_EQ(renderer->loudness, (LoudnessChoice{true, -16.0})) << "evened out by default";
    EXPECT_EQ(renderer->workFolder, WindowsFolder());
    EXPECT_FALSE(renderer->mp3Settings) << "a WAV of its own";
    click("cmdConvert"); // Stop

    WriteBytes(program.filePath("options.ini"), "[Renderer]\nLoudness=Off\n[MP3]\nBitrate=192\n"
                                                "Mp3Channels=2\nVBR=True\nMinBitrate=64\n");
    open();
    choose("song.mp3");
    click("cmdConvert");
    EXPECT_FALSE(renderer->loudness.even);
    ASSERT_TRUE(renderer->mp3Settings);
    const encoder::Mp3Settings& mp3 = *renderer->mp3Settings;
    EXPECT_EQ((std::vector<int>{mp3.vbrMode, mp3.bitRateKbps, mp3.channelMode, mp3.minBitRateKbps,
                                mp3.maxBitRateKbps}),
              (std::vector<int>{1, 192, 2, 64, 320}));
}

TEST_F(ConversionTest, WhatTheRendererHadToSayIsShownOnceTheRunHasEnded) {
    const QString notice = QStringLiteral("there is not enough free space in the work folder");
    const QString told = "The volume of the song below was not evened out; it was converted at "
                         "the fixed volume:\r\n" +
                         source + "\r\n" + notice;
    for (const char* name : {"song.wav", "song.mp3"}) {
        SCOPED_TRACE(name);
        boxes.shown.clear();
        boxes.answers = {MsgAnswer::Yes};
        choose(name);
        // A work folder that fills up half-way is known only at the end.
        const bool atTheEnd = std::string(name) == "song.mp3";
        renderer->notice = atTheEnd ? QString() : notice;
        click("cmdConvert");
        EXPECT_TRUE(boxes.shown.empty() || boxes.shown.back().text != told)
            << "not while the song renders";
        renderer->notice = notice;
        emit renderer->RenderDone();
        ASSERT_FALSE(boxes.shown.empty());
        EXPECT_EQ(lastMessage(), told);
        EXPECT_EQ(boxes.shown.back().icon, platform::MsgIcon::Exclamation);
        EXPECT_TRUE(QFile::exists(target())) << "told once the result is there";
    }
    // A stopped run says nothing, and its notice does not come back with the next run.
    boxes.shown.clear();
    boxes.answers = {MsgAnswer::Yes, MsgAnswer::Yes};
    click("cmdConvert");
    click("cmdConvert"); // Stop
    renderer->notice.clear();
    click("cmdConvert");
    emit renderer->RenderDone();
    for (const auto& box : boxes.shown)
        EXPECT_NE(box.text, told);
}

TEST_F(ConversionTest, Mp3RunRendersCdQualityIntoATemporaryWav) {
    Settings().Frequency = 11025;
    choose("song.mp3");
    click("cmdConvert");
    EXPECT_EQ(renderer->calls.mid(0, 3),
              (QStringList{"ChannelCount=2", "BitsPerSample=16", "SampleRate=44100"}));
    EXPECT_EQ(TempWavPath(), WindowsFolder() + "/__qlr_1.wav");
    EXPECT_EQ(renderer->lastTarget, TempWavPath());
    click("cmdConvert"); // Stop
    EXPECT_EQ(workFiles(), QStringList{"__qlr_1.wav"}) << "Stop keeps the temporary WAV";
}

TEST_F(ConversionTest, ControlsDuringARunAfterStopAndAfterTheEnd) {
    choose("song.wav");
    click("cmdConvert");
    EXPECT_EQ(button("cmdConvert")->caption(), "Stop");
    for (const char* name :
         {"cmdConfigure", "cmdOpen", "cmdSave", "cmd(0)", "cmd(2)", "cmd(3)", "cmd(4)"}) {
        EXPECT_FALSE(button(name)->isEnabled()) << name;
        EXPECT_EQ(button(name)->foreColor(), platform::ColourGreyText) << name;
    }
    EXPECT_TRUE(button("cmd(1)")->isEnabled()) << "Help stays usable";
    EXPECT_TRUE(button("cmdConvert")->isEnabled());
    EXPECT_FALSE(control("optMP3")->isEnabled());
    EXPECT_FALSE(control("OptWAV")->isEnabled());
    QTest::keyClick(control("txtOpen"), Qt::Key_A);
    EXPECT_EQ(dialogs.requests.size(), 2u) << "no dialog while converting";

    click("cmdConvert");
    EXPECT_EQ(renderer->calls.back(), "StopRender");
    EXPECT_FALSE(window->isConverting());
    EXPECT_EQ(button("cmdConvert")->caption(), "Convert");
    EXPECT_TRUE(button("cmdOpen")->isEnabled());
    EXPECT_EQ(button("cmdOpen")->foreColor(), 0xFF0000u);

    boxes.answers = {MsgAnswer::Yes};
    click("cmdConvert");
    emit renderer->RenderDone();
    EXPECT_FALSE(window->isConverting());
    EXPECT_EQ(button("cmd(4)")->foreColor(), 0xFF0000u);
    EXPECT_TRUE(control("OptWAV")->isEnabled());
}

TEST_F(ConversionTest, ProgressShowsElapsedAndTotalTimes) {
    choose("song.wav");
    renderer->totalMs = 125000;
    click("cmdConvert");
    emit renderer->RenderProgress(0);
    EXPECT_EQ(text("lNow"), "Now: 0");
    emit renderer->RenderProgress(50);
    EXPECT_EQ(control<ProgressBar>("pbCur")->value(), 50);
    EXPECT_EQ(text("lNow"), "Now: 1:2");
    EXPECT_EQ(text("lTotal"), "Total: 2:5");
    emit renderer->RenderEnded();

    renderer->totalMs = 60000;
    boxes.answers = {MsgAnswer::Yes};
    click("cmdConvert");
    EXPECT_EQ(text("lTotal"), "Total: 60");
    EXPECT_EQ(text("lNow"), "Now: 1:2") << "the previous run's value stays until progress";
    EXPECT_EQ(control<ProgressBar>("pbCur")->value(), 50);
    emit renderer->RenderProgress(100);
    EXPECT_EQ(text("lNow"), "Now: 60");
    click("cmdConvert");

    renderer->totalMs = 36000000;
    boxes.answers = {MsgAnswer::Yes};
    click("cmdConvert");
    emit renderer->RenderProgress(50);
    EXPECT_EQ(text("lTotal"), "Total: 600:0");
    EXPECT_EQ(text("lNow"), "Now: 300:0");
}

TEST_F(ConversionTest, RendererFailuresAreReportedAndTheWindowGoesIdle) {
    choose("song.mp3");
    renderer->accept = false;
    renderer->error = "Not a MIDI file: " + source;
    click("cmdConvert");
    EXPECT_EQ(lastMessage(), "Not a MIDI file: " + source);
    EXPECT_FALSE(window->isConverting());
    EXPECT_TRUE(button("cmdOpen")->isEnabled());

    renderer->accept = true;
    renderer->totalMs = 0;
    click("cmdConvert");
    EXPECT_EQ(lastMessage(), "The below file holds no music to convert:\r\n" + source);
    EXPECT_FALSE(window->isConverting());

    renderer->totalMs = 5000;
    click("cmdConvert");
    emit renderer->RenderFailed("The disk is full.");
    EXPECT_EQ(lastMessage(), "The disk is full.");
    EXPECT_FALSE(window->isConverting());
    EXPECT_TRUE(workFiles().isEmpty());
}

class EncodingStageTest : public ConversionTest {
protected:
    // Renders to MP3 and lets the fake renderer end, which opens the encoding stage.
    void runToEnd() {
        choose("song.mp3");
        click("cmdConvert");
        emit renderer->RenderDone();
    }
};

TEST_F(EncodingStageTest, DirectRoutePutsSettingsWaitsAndFollowsProgress) {
    Settings().VBR = true;
    Settings().Bitrate = 192;
    Settings().Mp3Channels = 1;
    Settings().MinBitrate = 64;
    Settings().MaxBitrate = 256;
    QElapsedTimer clock;
    clock.start();
    runToEnd();
    EXPECT_EQ(encoderLog.calls, (QStringList{"VbrMode=1", "BitRateKbps=192", "ChannelMode=1",
                                             "MaxBitRateKbps=256", "MinBitRateKbps=64"}));
    EXPECT_GE(clock.elapsed(), 950) << "the stage waits one second before encoding";
    ASSERT_TRUE(encoder.isNull()) << "the stage closed and took its encoder along";
    EXPECT_EQ(ReadBytes(target()), "ID3");
    EXPECT_TRUE(workFiles().isEmpty());
    EXPECT_FALSE(Mp3ViaTemp());
}

TEST_F(EncodingStageTest, CaptionAndEncoderCallsInOrder) {
    prepareEncoder = [](FakeEncoder& e) { e.script = {57, 99, 100}; };
    runToEnd();
    const QStringList& calls = encoderLog.calls;
    const QStringList& titles = encoderLog.titles;
    const auto& encodes = encoderLog.encodes;
    EXPECT_EQ(calls, (QStringList{"VbrMode=0", "BitRateKbps=128", "ChannelMode=0",
                                  "MaxBitRateKbps=320", "MinBitRateKbps=32"}));
    EXPECT_EQ(titles, (QStringList{"0%", "57%", "99%", "100%"})) << "99 does not close";
    ASSERT_EQ(encodes.size(), 1u);
    EXPECT_EQ(encodes[0].first, WindowsFolder() + "/__qlr_1.wav");
    EXPECT_EQ(encodes[0].second, target());
}

TEST_F(EncodingStageTest, RefusedTargetGoesThroughATemporaryMp3AndIsCopied) {
    prepareEncoder = [](FakeEncoder& e) { e.results = {false, true}; };
    runToEnd();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(TempMp3Path(), WindowsFolder() + "/__qlr_1.mp3");
    EXPECT_TRUE(Mp3ViaTemp());
    EXPECT_EQ(ReadBytes(target()), "ID3");
    EXPECT_TRUE(workFiles().isEmpty());
}

TEST_F(EncodingStageTest, BothRefusedShowsTheMessageCleansUpAndLeavesTheOldFile) {
    prepareEncoder = [](FakeEncoder& e) { e.results = {false, false}; };
    WriteBytes(files.filePath("song.mp3"), "precious");
    boxes.answers = {MsgAnswer::Yes};
    runToEnd();
    EXPECT_EQ(lastMessage(), "Sorry, an unknow error occurred, please try to change \r\n"
                             "the output file to another folder such as \"c:\\test.mp3\"");
    EXPECT_EQ(ReadBytes(target()), "precious");
    EXPECT_TRUE(workFiles().isEmpty());
}

TEST_F(EncodingStageTest, FailedCopyIsReportedAndTheMp3Kept) {
    prepareEncoder = [](FakeEncoder& e) { e.results = {false, true}; };
    chooseSource(source);
    chooseTarget(files.filePath("no such folder/song.mp3"));
    click("cmdConvert");
    emit renderer->RenderDone();
    // Outside this instance's folder, which goes when the instance ends.
    const QString kept = platform::WorkFolder() + "/song.mp3";
    EXPECT_EQ(lastMessage(), "The MP3 file could not be copied to:\r\n" + target() +
                                 "\r\nIt has been kept as:\r\n" + kept);
    EXPECT_EQ(ReadBytes(kept), "ID3");
    EXPECT_TRUE(workFiles().isEmpty());
}

TEST_F(EncodingStageTest, ClosingTheStageStopsTheEncoding) {
    prepareEncoder = [](FakeEncoder& e) {
        e.results = {false, true};
        e.script = {40};
        QObject::connect(&e, &FakeEncoder::Progress, &e, [enc = &e] {
            QTimer::singleShot(0, enc->parent(),
                               [enc] { qobject_cast<QWidget*>(enc->parent())->close(); });
        });
    };
    runToEnd();
    EXPECT_EQ(encoderLog.calls.back(), "Stop");
    EXPECT_FALSE(Mp3ViaTemp()) << "nothing is left to copy";
    EXPECT_FALSE(QFile::exists(target()));
    EXPECT_TRUE(workFiles().isEmpty());
}

TEST_F(EncodingStageTest, ClosingTheStageAfterTheEncoderCompletedStillCopiesTheResult) {
    prepareEncoder = [](FakeEncoder& e) {
        e.results = {false, true};
        e.script = {40};
        e.completeOnStop = true; // done by the time the window closes, its 100 still queued
        QObject::connect(&e, &FakeEncoder::Progress, &e, [enc = &e] {
            QTimer::singleShot(0, enc->parent(),
                               [enc] { qobject_cast<QWidget*>(enc->parent())->close(); });
        });
    };
    runToEnd();
    EXPECT_EQ(encoderLog.calls.back(), "Stop");
    EXPECT_TRUE(Mp3ViaTemp());
    EXPECT_EQ(ReadBytes(target()), "ID3");
    EXPECT_TRUE(workFiles().isEmpty());
}

TEST_F(EncodingStageTest, TheEndOfAWavRunOpensNoStage) {
    choose("song.wav");
    click("cmdConvert");
    emit renderer->RenderDone();
    EXPECT_TRUE(encoderLog.calls.isEmpty());
    EXPECT_TRUE(encoderLog.encodes.empty());
    EXPECT_FALSE(window->isConverting());
}

TEST_F(EncodingStageTest, EncoderFailureHalfWayIsReported) {
    prepareEncoder = [](FakeEncoder& e) {
        e.script = {};
        QTimer::singleShot(1200, &e, [enc = &e] { emit enc->EncodeFailed("Encoding failed."); });
    };
    runToEnd();
    EXPECT_EQ(lastMessage(), "Encoding failed.");
    EXPECT_FALSE(window->isConverting());
    EXPECT_TRUE(workFiles().isEmpty());
}

} // namespace
