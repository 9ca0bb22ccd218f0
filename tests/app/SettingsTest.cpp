// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The settings as the program holds them for the run: the record in use, the renderer's choices
// read once, and the files of an installed program.
#include "app/settings/Settings.h"
#include "app/settings/RendererChoices.h"
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
    QTemporaryDir dir;
};

TEST_F(SettingsTest, VbrFalseAfterTrueInMemory) {
    Settings().VBR = true;
    load("[MP3]\nVBR=False\n");
    EXPECT_FALSE(Settings().VBR);
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
