// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window on the real renderer and encoder: a generated MIDI file becomes WAV or MP3
// data in the settings' format, and the work folder is left empty.
#include "app/shared/TempFiles.h"
#include "components/encoder/LameMp3Encoder.h"
#include "components/renderer/SynthRenderer.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/components/encoder/Mp3Probe.h"
#include "tests/components/renderer/Ffprobe.h"
#include "tests/components/renderer/LevelProbe.h"
#include "tests/components/renderer/RenderSupport.h"
#include "tests/components/renderer/WavProbe.h"
#include "tests/support/MidiWriter.h"

#include <QDir>
#include <QFile>

namespace {

using platform::MsgAnswer;

constexpr char TestSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";

class EndToEndTest : public MainWindowFixture {
protected:
    EndToEndTest() {
        realRenderer = [](QObject* parent) -> Renderer* { return new SynthRenderer(parent); };
        realEncoder = [](QObject* parent) -> Mp3Encoder* { return new LameMp3Encoder(parent); };
    }
    void SetUp() override {
        // A SoundFont beside the program is the first one the renderer looks for.
        QFile::link(TestSoundFont, program.filePath("test.sf2"));
        MainWindowFixture::SetUp();
        source = files.filePath("two seconds.mid");
        midiwriter::Track track;
        track.program(0, 0, 0)
            .noteOn(0, 0, 60)
            .noteOn(0, 0, 64)
            .noteOff(960, 0, 60)
            .noteOff(0, 0, 64);
        track.noteOn(0, 0, 67).noteOff(960, 0, 67).endOfTrack();
        midiwriter::save(source.toStdString(), midiwriter::file(0, 480, {track}));
    }
    void useSettings(const QByteArray& ini) {
        WriteBytes(program.filePath("options.ini"), ini);
        open();
    }
    // Converts source into the target as chosen and waits until the run and its stage are over.
    void convert(const QString& targetName) {
        chooseSource(source);
        chooseTarget(files.filePath(targetName));
        click("cmdConvert");
        ASSERT_TRUE(window->isConverting()) << (boxes.shown.empty() ? "" : boxes.shown.back().text);
        EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isConverting(); }, 60000));
        QTest::qWait(50);
    }
    QStringList workFiles() { return QDir(WindowsFolder()).entryList(QDir::Files); }

    QTemporaryDir files;
    QString source;
};

TEST_F(EndToEndTest, WavOutputFollowsTheWavSettings) {
    useSettings("[WAV]\nFrequency=22050\nBits=8\nWavChannels=1\n");
    convert("song.wav");
    const WavProbe wav = WavProbe::read(target().toStdString());
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.sampleRate, 22050);
    EXPECT_EQ(wav.bits, 8);
    EXPECT_EQ(wav.channels, 1);
    // Two seconds of song plus a release tail of at most three.
    EXPECT_GE(wav.frames(), 2 * 22050u);
    EXPECT_LE(wav.frames(), 5 * 22050u);
    // TimGM6mb's piano is quiet (about -30 dBFS, as with the fluidsynth command), yet audible.
    EXPECT_GE(wav.peak(), 2) << "not silent";
    EXPECT_EQ(text("lTotal"), "Total: 2");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(EndToEndTest, Mp3OutputIsEncodedWithTheVbrRange) {
    useSettings("[MP3]\nVBR=True\nMinBitrate=64\nMaxBitrate=192\n");
    convert("song.mp3");
    const fixtures::Mp3Facts mp3 = fixtures::probeMp3(target().toStdString());
    ASSERT_TRUE(mp3.decoded) << mp3.error;
    EXPECT_EQ(mp3.rate, 44100);
    EXPECT_EQ(mp3.channels, 2);
    EXPECT_GE(mp3.minKbps, 64);
    EXPECT_LE(mp3.maxKbps, 192);
    EXPECT_TRUE(mp3.hasHeaderFrame);
    EXPECT_GE(mp3.samples, 2 * 44100);
    EXPECT_TRUE(workFiles().isEmpty());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(EndToEndTest, MidiComesOutEvenlyLoudAndTaggedInBothModes) {
    if (!ffprobe::available())
        GTEST_SKIP() << "ffprobe (package ffmpeg) is not installed";
    // The piano line with a Latin-1 title and a copyright notice in its first track.
    midiwriter::Track names;
    names.meta(0, 0x03, {0xC9, 't', 'u', 'd', 'e'}).meta(0, 0x02, {0xA9, ' ', '2', '0', '2', '6'});
    midiwriter::save(source.toStdString(),
                     midiwriter::file(1, 96, {names.endOfTrack(), rendertest::quietPianoTrack()}));

    convert("song.wav");
    convert("song.mp3");
    const fixtures::Mp3Facts mp3 = fixtures::probeMp3(target().toStdString(), true);
    ASSERT_TRUE(mp3.decoded) << mp3.error;
    EXPECT_TRUE(mp3.hasHeaderFrame);
    EXPECT_EQ(mp3.headerLength, mp3.samples) << "the header frame follows the tag";
    EXPECT_NEAR(levelprobe::measure(mp3.audio, mp3.channels, int(mp3.rate)).lufs, -16.0, 1.0);
    EXPECT_NEAR(levelprobe::measureWav(files.filePath("song.wav").toStdString()).lufs, -16.0, 1.0);
    for (const char* name : {"song.wav", "song.mp3"}) {
        SCOPED_TRACE(name);
        const ffprobe::Facts facts = ffprobe::probe(files.filePath(name).toStdString());
        ASSERT_TRUE(facts.ran);
        EXPECT_EQ(facts.tag("title"), "\xC3\x89tude");
        EXPECT_EQ(facts.tag("copyright"), "\xC2\xA9 2026");
        EXPECT_EQ(facts.tag("encoder").rfind("Quillory 2.0", 0), 0u) << facts.tag("encoder");
    }
    EXPECT_TRUE(workFiles().isEmpty());
    EXPECT_TRUE(boxes.shown.empty());

    // Without a name in the file, the song is named after it.
    midiwriter::save(source.toStdString(), rendertest::quietPianoLine());
    boxes.answers = {platform::MsgAnswer::Yes};
    convert("song.mp3");
    EXPECT_EQ(ffprobe::probe(target().toStdString()).tag("title"), "two seconds");
}

TEST_F(EndToEndTest, TargetWithoutExtensionRendersWavDataAndMp3ModeStillMakesMp3) {
    convert("plain");
    EXPECT_TRUE(WavProbe::read(target().toStdString()).valid);

    chooseTarget(files.filePath("other"));
    QTest::mouseClick(control("optMP3"), Qt::LeftButton);
    ASSERT_TRUE(mp3());
    click("cmdConvert");
    ASSERT_TRUE(window->isConverting());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isConverting(); }, 60000));
    QTest::qWait(50);
    EXPECT_EQ(target(), files.filePath("other"));
    EXPECT_TRUE(fixtures::probeMp3(target().toStdString()).decoded);
    EXPECT_TRUE(workFiles().isEmpty());
}

TEST_F(EndToEndTest, SourceThatIsNotMidiIsReportedAndNothingIsWritten) {
    WriteBytes(source, "this is not a MIDI file");
    chooseSource(source);
    chooseTarget(files.filePath("song.wav"));
    click("cmdConvert");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.contains(source)) << boxes.shown[0].text;
    EXPECT_FALSE(window->isConverting());
    EXPECT_FALSE(QFile::exists(target()));
}

// After Yes, the old file stays until the run has a result.
TEST_F(EndToEndTest, ARunWithADamagedSoundFontLeavesTheFileItWasToReplace) {
    WriteBytes(files.filePath("cut.sf2"), ReadBytes(TestSoundFont).left(5000));
    useSettings("[Renderer]\nSoundFont=" + files.filePath("cut.sf2").toUtf8());
    for (const char* name : {"song.wav", "song.mp3"}) {
        WriteBytes(files.filePath(name), "precious");
        boxes.answers = {MsgAnswer::Yes};
        chooseSource(source);
        chooseTarget(files.filePath(name));
        click("cmdConvert");
        EXPECT_FALSE(window->isConverting());
        EXPECT_EQ(boxes.shown.back().icon, platform::MsgIcon::Critical) << boxes.shown.back().text;
        EXPECT_EQ(ReadBytes(files.filePath(name)), "precious") << name;
    }
    EXPECT_TRUE(workFiles().isEmpty());
}

} // namespace

namespace {

TEST_F(EndToEndTest, AMidiFileWithNoMusicLeavesNothingAtTheTargetInEitherMode) {
    midiwriter::save(source.toStdString(),
                     midiwriter::file(0, 480, {midiwriter::Track().endOfTrack()}));
    for (const char* name : {"song.wav", "song.mp3"}) {
        SCOPED_TRACE(name);
        boxes.shown.clear();
        chooseSource(source);
        chooseTarget(files.filePath(name));
        click("cmdConvert");
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, "The below file holds no music to convert:\r\n" + source);
        EXPECT_FALSE(window->isConverting());
        QTest::qWait(200);
        EXPECT_EQ(QDir(files.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{"two seconds.mid"});
        EXPECT_TRUE(workFiles().isEmpty());
    }
}

TEST_F(EndToEndTest, TargetInAMissingFolderIsReportedAndTheWindowIsIdle) {
    chooseSource(source);
    chooseTarget(files.filePath("no such folder/song.wav"));
    click("cmdConvert");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].icon, platform::MsgIcon::Critical);
    EXPECT_FALSE(window->isConverting());
    EXPECT_TRUE(button("cmdOpen")->isEnabled());
}

TEST_F(EndToEndTest, StopKeepsAValidWavAndCloseDuringARenderAsksFirst) {
    midiwriter::Track long_track;
    long_track.program(0, 0, 48);
    for (int i = 0; i < 600; ++i)
        long_track.noteOn(0, 0, 48 + i % 24).noteOff(480, 0, 48 + i % 24);
    long_track.endOfTrack();
    midiwriter::save(source.toStdString(), midiwriter::file(0, 480, {long_track}));
    chooseSource(source);
    chooseTarget(files.filePath("long.wav"));
    click("cmdConvert");
    ASSERT_TRUE(window->isConverting());
    EXPECT_EQ(text("lTotal"), "Total: 5:0");
    click("cmdConvert"); // Stop
    click("cmdConvert"); // a second press starts again: the target exists, and No keeps it
    EXPECT_FALSE(window->isConverting());
    const WavProbe stopped = WavProbe::read(target().toStdString());
    EXPECT_TRUE(stopped.valid) << "what was rendered before Stop is a complete WAV";

    boxes.answers = {MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Yes};
    click("cmdConvert");
    ASSERT_TRUE(window->isConverting());
    window->show();
    EXPECT_FALSE(window->close()) << "No keeps the window and the run";
    EXPECT_TRUE(window->isConverting());
    EXPECT_TRUE(window->close());
    window.reset(); // the renderer goes with the window
    EXPECT_TRUE(QFile::exists(files.filePath("long.wav")));
}

} // namespace
