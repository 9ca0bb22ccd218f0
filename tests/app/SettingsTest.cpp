// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/settings/Settings.h"
#include "app/settings/LoudnessSetting.h"
#include "app/settings/SoundFontSetting.h"
#include "tests/support/Fakes.h"
#include "tests/support/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings() = SettingsRecord{};
        SetSettingsPath(dir.filePath("options.ini"));
    }
    void load(const QByteArray& content) {
        WriteBytes(SettingsPath(), content);
        SetDefaultSettings();
        LoadSettings();
    }
    static SettingsRecord defaults() {
        return SettingsRecord{128, 0, false, 32, 320, 44100, 2, 16};
    }
    QTemporaryDir dir;
};

TEST(JoinPath, JoinsWithOneSeparator) {
    EXPECT_EQ(JoinPath("/opt/quillory", "options.ini"), "/opt/quillory/options.ini");
    EXPECT_EQ(JoinPath("/", "options.ini"), "/options.ini");
    EXPECT_EQ(JoinPath("  /opt/q  ", " a.ini"), "/opt/q/ a.ini");
    EXPECT_EQ(JoinPath("   ", "options.ini"), "options.ini");
    EXPECT_EQ(JoinPath("/opt/q/", "options.ini"), "/opt/q/options.ini");
}

TEST_F(SettingsTest, MissingFileKeepsDefaultsAndCreatesNothing) {
    SetDefaultSettings();
    LoadSettings();
    EXPECT_EQ(Settings(), defaults());
    EXPECT_FALSE(QFile::exists(SettingsPath()));
}

TEST_F(SettingsTest, OnlyWavSectionLeavesMp3Defaults) {
    load("[WAV]\nBits=8\nWavChannels=1\nFrequency=22050\n");
    SettingsRecord expected = defaults();
    expected.Bits = 8;
    expected.WavChannels = 1;
    expected.Frequency = 22050;
    EXPECT_EQ(Settings(), expected);
}

TEST_F(SettingsTest, ValuesLoadTrimmedUncheckedAndInAnyCase) {
    load("[mp3]\nbitrate=   192   \nVBR=True\nMinBitrate=100\nMaxBitrate=-5\nMp3Channels=3\n");
    EXPECT_EQ(Settings().Bitrate, 192);
    EXPECT_TRUE(Settings().VBR);
    EXPECT_EQ(Settings().MinBitrate, 100);
    EXPECT_EQ(Settings().MaxBitrate, -5);
    EXPECT_EQ(Settings().Mp3Channels, 3);
}

TEST_F(SettingsTest, ValuesThatDoNotConvertKeepTheirDefaults) {
    load("[MP3]\nBitrate=12abc\nMp3Channels=\nVBR=Yes\nMinBitrate=0x20\nMaxBitrate=99999999999\n"
         "[WAV]\nBits=1.5\nWavChannels= \nFrequency=ten\n");
    EXPECT_EQ(Settings(), defaults());
}

TEST_F(SettingsTest, VbrFalseAfterTrueInMemory) {
    Settings().VBR = true;
    load("[MP3]\nVBR=False\n");
    EXPECT_FALSE(Settings().VBR);
}

TEST_F(SettingsTest, FirstSaveWritesTheWholeFileInOrder) {
    SetDefaultSettings();
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(ReadBytes(SettingsPath()),
              "[MP3]\nBitrate=128\nMp3Channels=0\nMaxBitrate=320\nMinBitrate=32\nVBR=False\n"
              "[WAV]\nBits=16\nWavChannels=2\nFrequency=44100\n");
}

TEST_F(SettingsTest, SaveKeepsUnrelatedSectionsAndRoundTrips) {
    load("; mine\n[Renderer]\nSoundFont=/x/y.sf2\n[MP3]\nBitrate=64\nExtra=1\n");
    Settings().Bitrate = 256;
    Settings().VBR = true;
    Settings().Frequency = 11025;
    ASSERT_TRUE(SaveSettings());
    const SettingsRecord saved = Settings();
    const QByteArray file = ReadBytes(SettingsPath());
    EXPECT_TRUE(
        file.startsWith("; mine\n[Renderer]\nSoundFont=/x/y.sf2\n[MP3]\nBitrate=256\nExtra=1\n"))
        << file.constData();
    SetDefaultSettings();
    LoadSettings();
    EXPECT_EQ(Settings(), saved);
}

TEST_F(SettingsTest, WriteIniValueCleansAndRemoves) {
    EXPECT_NE(WriteIniValue("MP3", "Bitrate", QString("  19") + QChar(0) + "2  ", SettingsPath()),
              0);
    EXPECT_EQ(ReadIniValue("MP3", "Bitrate", "", SettingsPath()), "192");
    EXPECT_NE(WriteIniValue("MP3", "Bitrate", "   ", SettingsPath()), 0);
    EXPECT_EQ(ReadIniValue("MP3", "Bitrate", "none", SettingsPath()), "none");
    EXPECT_NE(WriteIniValue("MP3", "", "x", SettingsPath()), 0);
    EXPECT_EQ(ReadBytes(SettingsPath()), "");
}

TEST_F(SettingsTest, FailedSaveIsReportedAndLeavesTheFile) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    load("[MP3]\nBitrate=64\n");
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    Settings().Bitrate = 320;
    EXPECT_FALSE(SaveSettings());
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(ReadBytes(SettingsPath()), "[MP3]\nBitrate=64\n");
}

TEST_F(SettingsTest, LoudnessIsATargetFromMinus30ToMinus5OrOffAndAnythingElseIsMinus16) {
    const LoudnessChoice standard{true, -16.0};
    const std::pair<QByteArray, LoudnessChoice> table[] = {
        {"", standard},
        {"[Renderer]\nLoudness=-20\n", {true, -20.0}},
        {"[renderer]\nloudness=  -14.5  \n", {true, -14.5}},
        {"[Renderer]\nLoudness=-30\n", {true, -30.0}},
        {"[Renderer]\nLoudness=-5\n", {true, -5.0}},
        {"[Renderer]\nLoudness=Off\n", LoudnessChoice::off()},
        {"[Renderer]\nLoudness=OFF\n", LoudnessChoice::off()},
        {"[Renderer]\nLoudness=-31\n", standard},
        {"[Renderer]\nLoudness=-4\n", standard},
        {"[Renderer]\nLoudness=16\n", standard},
        {"[Renderer]\nLoudness=loud\n", standard},
        {"[Renderer]\nLoudness=-16 LUFS\n", standard},
        {"[Renderer]\nLoudness=nan\n", standard},
        {"[Renderer]\nLoudness=\n", standard},
        {"[Renderer]\nLoudness=False\n", standard},
    };
    for (const auto& [file, expected] : table) {
        SCOPED_TRACE(file.toStdString());
        WriteBytes(SettingsPath(), file);
        EXPECT_EQ(ReadLoudness(SettingsPath()), expected);
    }
}

TEST_F(SettingsTest, TheLoudnessChoiceIsReadOnceAndSavedBesideTheOtherKeys) {
    WriteBytes(SettingsPath(), "[Renderer]\nSoundFont=/sf/a.sf2\nLoudness=-20\n[Mine]\nA=1\n");
    LoadLoudness();
    WriteBytes(SettingsPath(), "[Renderer]\nSoundFont=/sf/a.sf2\nLoudness=Off\n[Mine]\nA=1\n");
    EXPECT_EQ(Loudness(), (LoudnessChoice{true, -20.0})) << "read at start-up, not again";
    ASSERT_TRUE(SetLoudness({true, -14.5}));
    EXPECT_EQ(ReadBytes(SettingsPath()),
              "[Renderer]\nSoundFont=/sf/a.sf2\nLoudness=-14.5\n[Mine]\nA=1\n");
    ASSERT_TRUE(SetLoudness(LoudnessChoice::off()));
    LoadLoudness();
    EXPECT_FALSE(Loudness().even);
}

TEST(SettingsFilesFor, BesideAWritableProgramOtherwiseTheUsersFileWithTheProgramsAsShipped) {
    ScopedUserFolders folders;
    QTemporaryDir program;
    const QString beside = program.filePath("options.ini");
    EXPECT_EQ(SettingsFilesFor(program.path()), (SettingsFiles{beside, QString()}));
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    const SettingsFiles installed{qEnvironmentVariable("XDG_CONFIG_HOME") + "/quillory/options.ini",
                                  beside};
    WriteBytes(beside, "[MP3]\nBitrate=192\n");
    QFile::setPermissions(beside, QFile::ReadOwner);
    EXPECT_EQ(SettingsFilesFor(program.path()), installed) << "a read-only file is shipped";
    const ReadOnlyFolder readOnly(program.path());
    EXPECT_EQ(SettingsFilesFor(program.path()), installed);
}

// An installed program: the administrator's options.ini lies in a folder the user cannot write.
class InstalledSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() == 0)
            GTEST_SKIP() << "root may write into a read-only folder";
        WriteBytes(program.filePath("options.ini"), Shipped);
        readOnly.emplace(program.path());
    }
    // Start-up as the main window does it.
    void start() {
        Settings() = SettingsRecord{};
        SetDefaultSettings();
        SetSettingsFiles(SettingsFilesFor(program.path()));
        LoadSettings();
        LoadSoundFontPath();
    }
    static QString userFile() {
        return qEnvironmentVariable("XDG_CONFIG_HOME") + "/quillory/options.ini";
    }

    static inline const QByteArray Shipped =
        "; this site's defaults\r\n[MP3]\r\nBitrate=192\r\n\r\n"
        "[Renderer]\r\nSoundFont=/opt/sf/site.sf2\r\n";
    ScopedUserFolders folders;
    QTemporaryDir program;
    std::optional<ReadOnlyFolder> readOnly;
};

TEST_F(InstalledSettingsTest, TheProgramsFileIsReadWhileTheUserHasNone) {
    start();
    EXPECT_EQ(Settings().Bitrate, 192);
    EXPECT_EQ(Settings().Frequency, 44100);
    EXPECT_EQ(SoundFontPath(), "/opt/sf/site.sf2");
    EXPECT_EQ(SettingsPath(), userFile()) << "saves go to the user's file";
    EXPECT_FALSE(QFileInfo::exists(userFile())) << "reading creates nothing";
}

TEST_F(InstalledSettingsTest, FirstSaveStartsFromTheProgramsFileAndThenTheUsersWins) {
    start();
    Settings().Bits = 8;
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(ReadBytes(userFile()),
              "; this site's defaults\r\n[MP3]\r\nBitrate=192\r\nMp3Channels=0\r\n"
              "MaxBitrate=320\r\nMinBitrate=32\r\nVBR=False\r\n\r\n"
              "[Renderer]\r\nSoundFont=/opt/sf/site.sf2\r\n"
              "[WAV]\r\nBits=8\r\nWavChannels=2\r\nFrequency=44100\r\n");
    EXPECT_EQ(ReadBytes(program.filePath("options.ini")), Shipped);

    // The administrator changes the defaults later: the user's saved choices stay.
    WriteBytes(program.filePath("options.ini"),
               "[MP3]\nBitrate=64\n[WAV]\nBits=24\n[Renderer]\nSoundFont=/opt/sf/new.sf2\n");
    start();
    EXPECT_EQ(Settings().Bitrate, 192);
    EXPECT_EQ(Settings().Bits, 8);
    EXPECT_EQ(SoundFontPath(), "/opt/sf/site.sf2");
}

TEST_F(InstalledSettingsTest, ClearingTheProgramsSoundFontLastsAndKeepsTheRest) {
    start();
    ASSERT_TRUE(SetSoundFontPath(QString()));
    start();
    EXPECT_EQ(SoundFontPath(), "");
    EXPECT_EQ(Settings().Bitrate, 192);
}

} // namespace
