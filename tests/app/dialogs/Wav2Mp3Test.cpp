// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The WAV-to-MP3 tool with a scripted encoder and the real Ombrel bar: the checks and their
// messages, the direct route, the fallback through temporary files and its delayed copy,
// closing mid-way, failures; and real encodings of generated files.
#include "app/decoration/ProgressBar.h"
#include "app/encoding/frmWav2Mp3.h"
#include "app/shared/TempFiles.h"
#include "components/encoder/LameMp3Encoder.h"
#include "platform/Files.h"
#include "platform/control/Registry.h"
#include "tests/app/dialogs/DialogTestSupport.h"
#include "tests/components/encoder/Mp3Probe.h"
#include "tests/components/encoder/WavFixtures.h"
#include "tests/support/Drops.h"
#include "tests/support/FakeComponents.h"
#include "tests/support/GaugeRegistration.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <memory>
#include <mpg123.h>
#include <unistd.h>

namespace {

class Wav2Mp3Test : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        ASSERT_TRUE(RegisterBuiltGauge());
        source = program.filePath("song.wav");
        WriteBytes(source, "RIFF wave data");
        target = program.filePath("song.mp3");
    }
    void open(EncoderFactory makeEncoder = {}) {
        if (!makeEncoder)
            makeEncoder = [this](QObject* parent) {
                encoder = new FakeEncoder(parent, log);
                encoder->script.clear(); // the test raises each notification itself
                return encoder;
            };
        window = std::make_unique<frmWav2Mp3>(nullptr, RealButtons(), makeEncoder);
        window->show();
    }
    SkinButton* button(const char* name) { return window->findChild<SkinButton*>(name); }
    void choose(const char* button, const std::optional<QString>& path) {
        dialogs.choices.push_back(path);
        QTest::mouseClick(this->button(button), Qt::LeftButton);
    }
    void convert(const QString& from, const QString& to) {
        choose("cmdWAV", from);
        choose("cmdMP3", to);
        QTest::mouseClick(button("cmdConvert"), Qt::LeftButton);
    }
    ProgressBar* bar() { return window->findChild<ProgressBar*>("pbCur"); }
    bool idle() {
        return button("cmdConvert")->isEnabled() && button("cmdConvert")->foreColor() == 0xFF0000u;
    }
    bool busy() {
        return !button("cmdConvert")->isEnabled() &&
               button("cmdConvert")->foreColor() == platform::ColourGreyText;
    }
    void progress(qint16 percent) { emit encoder->Progress(percent, 0); }
    // A real encoding ends with a complete file at its target, then 100.
    void finish() {
        WriteBytes(log.encodes.back().second, Result);
        progress(100);
    }
    static QStringList workFiles() { return platform::FindFiles(WindowsFolder() + "/*"); }

    QString source;
    QString target;
    static inline const QByteArray Result = "an encoded MP3";
    EncoderLog log;
    FakeEncoder* encoder = nullptr;
    std::unique_ptr<frmWav2Mp3> window;
};

// A WAV file dropped on the tool becomes its source; anything else is refused with its path, and
// nothing is taken while an encoding runs, during which the session stays awake.
TEST_F(Wav2Mp3Test, ADroppedWavBecomesTheSourceAndTheSessionStaysAwakeWhileEncoding) {
    open();
    WriteBytes(program.filePath("notes.txt"), "not music");
    DragFiles(window.get(), {source});
    DragFiles(window.get(), {program.filePath("notes.txt")});
    EXPECT_EQ(window->findChild<QLineEdit*>("txtWAV")->text(), source);
    EXPECT_EQ(texts(),
              QStringList{"The below file is not a WAV file:\r\n" + program.filePath("notes.txt")});
    convert(source, target);
    EXPECT_EQ(holds.reasons, QStringList{"Encoding song.wav"});
    EXPECT_FALSE(DragFiles(window.get(), {source}, false)) << "no drop cursor while encoding";
    finish();
    EXPECT_EQ(holds.held, 0);
}

TEST_F(Wav2Mp3Test, LoadPutsTheMp3SettingsInOrderAndPlacesTheBar) {
    startProgram("[MP3]\nBitrate=192\nMp3Channels=1\nVBR=True\nMinBitrate=64\nMaxBitrate=256\n");
    open();
    EXPECT_EQ(log.calls, (QStringList{"VbrMode=1", "BitRateKbps=192", "ChannelMode=1",
                                      "MaxBitRateKbps=256", "MinBitRateKbps=64"}));
    EXPECT_EQ(window->windowTitle(), "Convert WAV to MP3");
    ASSERT_TRUE(bar()->hasControl());
    EXPECT_EQ(bar()->geometry(), QRect(16, 128, 281, 21));
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Wav2Mp3Test, ChecksComeInOrderAndNoKeepsTheExistingTarget) {
    open();
    QTest::mouseClick(button("cmdConvert"), Qt::LeftButton);
    convert("   ", target);
    convert(program.filePath("missing.wav"), "");
    convert(program.filePath("missing.wav"), target);
    WriteBytes(target, "keep me");
    boxes.answers = {platform::MsgAnswer::No};
    convert(source, target);
    EXPECT_EQ(texts(),
              (QStringList{"Please open a WAV file!", "Please open a WAV file!",
                           "Please enter an MP3 file name to save!",
                           "The below file is not existing:\r\n" + program.filePath("missing.wav"),
                           "The below file is already existed,\r\nDo you want to "
                           "overwrite it?\r\n" +
                               target}));
    EXPECT_EQ(boxes.shown[3].icon, platform::MsgIcon::Critical);
    EXPECT_EQ(boxes.shown[4].buttons, platform::MsgButtons::YesNo);
    EXPECT_TRUE(log.encodes.empty());
    EXPECT_EQ(ReadBytes(target), "keep me");

    dialogs.choices = {std::nullopt, std::nullopt};
    QTest::mouseClick(button("cmdWAV"), Qt::LeftButton);
    QTest::mouseClick(button("cmdMP3"), Qt::LeftButton);
    EXPECT_EQ(window->findChild<QLineEdit*>("txtMP3")->text(), target) << "Cancel keeps the path";
    EXPECT_EQ(dialogs.requests.end()[-2].filter, "WAV Files(*.wav)|*.wav");
    EXPECT_EQ(dialogs.requests.back().flags, 0x280002);

    encoder->results = {false, false};
    boxes.answers = {platform::MsgAnswer::Yes};
    QTest::mouseClick(button("cmdConvert"), Qt::LeftButton);
    ASSERT_EQ(log.encodes.size(), 2u);
    EXPECT_EQ(log.encodes[0], std::make_pair(source, target));
    EXPECT_EQ(ReadBytes(target), "keep me")
        << "Yes keeps the old target until a result replaces it";
}

TEST_F(Wav2Mp3Test, DirectRouteRunsSeveralTimesAndTheBarWaitsForTheFirstProgress) {
    open();
    convert(source, target);
    EXPECT_TRUE(busy());
    progress(99);
    EXPECT_EQ(bar()->value(), 99);
    EXPECT_TRUE(busy());
    finish();
    EXPECT_TRUE(idle());

    const QString second = program.filePath("second.mp3");
    convert(source, second);
    EXPECT_EQ(bar()->value(), 100) << "a new conversion does not reset the bar";
    progress(3);
    EXPECT_EQ(bar()->value(), 3);
    finish();
    EXPECT_EQ(ReadBytes(second), Result);
    EXPECT_TRUE(idle());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Wav2Mp3Test, WhatTheEncoderHadToSayIsShownAtTheEnd) {
    open();
    convert(source, target);
    encoder->warning = "The data of song.wav ends early; what is there was encoded.";
    progress(50);
    EXPECT_TRUE(boxes.shown.empty());
    finish();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, encoder->warning);
    EXPECT_EQ(boxes.shown[0].icon, platform::MsgIcon::Exclamation);
    EXPECT_TRUE(idle());
}

TEST_F(Wav2Mp3Test, FallbackCopiesTheResultAboutOneSecondAfterTheEnd) {
    open();
    encoder->results = {false, true};
    convert(source, target);
    ASSERT_EQ(log.encodes.size(), 2u);
    EXPECT_EQ(log.encodes[1].first, WindowsFolder() + "/__qlr_1.wav");
    EXPECT_EQ(log.encodes[1].second, WindowsFolder() + "/__qlr_1.mp3");
    EXPECT_EQ(ReadBytes(log.encodes[1].first), ReadBytes(source));
    finish();
    QElapsedTimer sinceEnd;
    sinceEnd.start();
    EXPECT_TRUE(busy()) << "the copy is still to come";
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(target); }, 5000));
    EXPECT_GE(sinceEnd.elapsed(), 900);
    EXPECT_EQ(ReadBytes(target), Result);
    EXPECT_TRUE(idle());
    EXPECT_TRUE(workFiles().isEmpty());
}

TEST_F(Wav2Mp3Test, TargetChosenDuringTheFallbackReceivesTheResult) {
    open();
    encoder->results = {false, true};
    convert(source, target);
    const QString other = program.filePath("other.mp3");
    choose("cmdMP3", other);
    finish();
    ASSERT_TRUE(WaitUntil([&] { return idle(); }, 5000));
    EXPECT_EQ(ReadBytes(other), Result);
    EXPECT_FALSE(QFile::exists(target));
}

TEST_F(Wav2Mp3Test, RefusalsGiveTheEncodersReasonAndLeaveNothing) {
    open();
    encoder->results = {false, false};
    convert(source, target);
    EXPECT_EQ(texts(), QStringList{"Unknow error!\r\nrefused"});
    EXPECT_TRUE(idle());
    EXPECT_TRUE(workFiles().isEmpty());
    EXPECT_FALSE(QFile::exists(target));
}

TEST_F(Wav2Mp3Test, SourceThatCannotBeCopiedGetsTheFirstRefusalsReason) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    open();
    QFile::setPermissions(source, QFileDevice::WriteOwner);
    encoder->results = {false};
    convert(source, target);
    EXPECT_EQ(log.encodes.size(), 1u);
    EXPECT_EQ(texts(), QStringList{"Unknow error!\r\nrefused"});
}

TEST_F(Wav2Mp3Test, FailedCopyIsReportedAndTheResultKept) {
    open();
    encoder->results = {false, true};
    const QString unreachable = program.filePath("no such folder/song.mp3");
    convert(source, unreachable);
    finish();
    ASSERT_TRUE(WaitUntil([&] { return idle(); }, 5000));
    // Outside this instance's folder, which goes when the instance ends.
    const QString kept = platform::WorkFolder() + "/song.mp3";
    EXPECT_EQ(texts(), QStringList{"The MP3 file could not be copied to:\r\n" + unreachable +
                                   "\r\nIt has been kept as:\r\n" + kept});
    DeleteTempFiles();
    EXPECT_EQ(ReadBytes(kept), Result) << "the main window's clean-up leaves it";
}

// The fallback encodes a temporary copy of the source; what the encoder says about that copy
// is said of the user's own file, and its warning waits until the copy has been made.
TEST_F(Wav2Mp3Test, FallbackMessagesNameTheUsersSourceAndTheWarningFollowsTheCopy) {
    open();
    encoder->results = {false, true};
    const QString unreachable = program.filePath("no such folder/song.mp3");
    convert(source, unreachable);
    const QString copy = log.encodes.back().first;
    ASSERT_NE(copy, source);
    encoder->warning = "\"" + copy + "\" declares more audio than the file holds.";
    finish();
    EXPECT_TRUE(boxes.shown.empty()) << "nothing stands over the copy to come";
    ASSERT_TRUE(WaitUntil([&] { return idle(); }, 5000));
    ASSERT_EQ(texts().size(), 2);
    EXPECT_TRUE(texts()[0].startsWith("The MP3 file could not be copied to:"));
    EXPECT_EQ(texts()[1], "\"" + source + "\" declares more audio than the file holds.");
    EXPECT_EQ(boxes.shown[1].icon, platform::MsgIcon::Exclamation);

    boxes.shown.clear();
    encoder->warning.clear();
    encoder->results = {false, true};
    convert(source, target);
    ASSERT_NE(log.encodes.back().first, source);
    emit encoder->EncodeFailed("Reading \"" + log.encodes.back().first + "\" failed.");
    EXPECT_EQ(texts(), QStringList{"Reading \"" + source + "\" failed."});
}

TEST_F(Wav2Mp3Test, ClosingStopsTheEncodingOrMakesThePendingCopy) {
    open();
    convert(source, target);
    window->close();
    EXPECT_EQ(log.calls.count("Stop"), 1);

    log.calls.clear();
    open();
    encoder->results = {false, true};
    convert(source, target);
    finish();
    window->reject();
    EXPECT_EQ(log.calls.count("Stop"), 0) << "a finished encoding is not stopped";
    EXPECT_EQ(ReadBytes(target), Result) << "closing makes the pending copy at once";
}

TEST_F(Wav2Mp3Test, ClosingJustAfterTheEncoderCompletedKeepsTheResult) {
    open();
    encoder->results = {false, true};
    encoder->completeOnStop = true; // done, its 100 still queued
    convert(source, target);
    WriteBytes(log.encodes.back().second, Result);
    window->close();
    EXPECT_EQ(log.calls.count("Stop"), 1);
    EXPECT_EQ(ReadBytes(target), Result) << "the fallback's result is copied at once";
    EXPECT_TRUE(workFiles().isEmpty());
}

TEST_F(Wav2Mp3Test, FailureHalfWayIsReportedAndTheToolIsIdleAgain) {
    open();
    convert(source, target);
    emit encoder->EncodeFailed("The WAV file ends early.");
    EXPECT_EQ(texts(), QStringList{"The WAV file ends early."});
    EXPECT_TRUE(idle());
    window->close();
    EXPECT_EQ(log.calls.count("Stop"), 0);
}

TEST_F(Wav2Mp3Test, WithoutTheBarTheToolSaysHowToRegisterItAndStillConverts) {
    QFile::remove(platform::control::ControlRegistryPath());
    open();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.contains("Ombrel.OmbrelGauge"));
    EXPECT_FALSE(bar()->hasControl());
    convert(source, target);
    finish();
    EXPECT_TRUE(idle());
}

TEST_F(Wav2Mp3Test, RealEncoderTurnsAGeneratedWavIntoAnMp3WithTheSettings) {
    startProgram("[MP3]\nBitrate=96\nMp3Channels=2\n");
    open([](QObject* parent) { return new LameMp3Encoder(parent); });
    const QString wav = program.filePath("tone.wav");
    const std::int64_t frames = fixtures::writeWav(wav.toStdString(), {44100, 2, 0, 0.5});
    convert(wav, target);
    ASSERT_TRUE(WaitUntil([&] { return idle(); })) << texts().join('|').toStdString();
    EXPECT_EQ(bar()->value(), 100);
    const fixtures::Mp3Facts mp3 = fixtures::probeMp3(target.toStdString());
    ASSERT_TRUE(mp3.decoded) << mp3.error;
    EXPECT_EQ(mp3.rate, 44100);
    EXPECT_EQ(mp3.modes, std::set<int>{MPG123_M_MONO});
    EXPECT_EQ(mp3.maxKbps, 96);
    EXPECT_NEAR(double(mp3.samples), double(frames), fixtures::samplesPerFrame(44100));
    EXPECT_TRUE(boxes.shown.empty());

    convert(source, program.filePath("not a wav.mp3"));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.startsWith("Unknow error!\r\n"));
    EXPECT_TRUE(boxes.shown[0].text.contains(source)) << "the reason names the user's file";
    EXPECT_FALSE(boxes.shown[0].text.contains("__qlr_")) << "not the temporary copy";
    EXPECT_FALSE(QFile::exists(program.filePath("not a wav.mp3")));
    EXPECT_TRUE(workFiles().isEmpty());
}

} // namespace
