// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// options.ini as the window and the converter both read it: the eight output settings, the
// text functions under them, and which files hold them.
#include "components/conversion/OutputSettings.h"
#include "components/conversion/IniValue.h"
#include "components/conversion/SettingsFiles.h"
#include "tests/support/Fakes.h"
#include "tests/support/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using namespace quillory::conversion;

class OutputSettingsTest : public ::testing::Test {
protected:
    OutputSettings load(const QByteArray& content) {
        WriteBytes(path, content);
        return ReadOutputSettings(path);
    }
    static OutputSettings defaults() {
        return OutputSettings{128, 0, false, 32, 320, 44100, 2, 16};
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("options.ini");
};

TEST(JoinPath, JoinsWithOneSeparator) {
    EXPECT_EQ(JoinPath("/opt/quillory", "options.ini"), "/opt/quillory/options.ini");
    EXPECT_EQ(JoinPath("/", "options.ini"), "/options.ini");
    EXPECT_EQ(JoinPath("  /opt/q  ", " a.ini"), "/opt/q/ a.ini");
    EXPECT_EQ(JoinPath("   ", "options.ini"), "options.ini");
    EXPECT_EQ(JoinPath("/opt/q/", "options.ini"), "/opt/q/options.ini");
}

TEST_F(OutputSettingsTest, MissingFileKeepsDefaultsAndCreatesNothing) {
    EXPECT_EQ(ReadOutputSettings(path), defaults());
    EXPECT_EQ(DefaultOutputSettings, defaults());
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(OutputSettingsTest, OnlyWavSectionLeavesMp3Defaults) {
    OutputSettings expected = defaults();
    expected.Bits = 8;
    expected.WavChannels = 1;
    expected.Frequency = 22050;
    EXPECT_EQ(load("[WAV]\nBits=8\nWavChannels=1\nFrequency=22050\n"), expected);
}

TEST_F(OutputSettingsTest, ValuesLoadTrimmedUncheckedAndInAnyCase) {
    const OutputSettings s =
        load("[mp3]\nbitrate=   192   \nVBR=True\nMinBitrate=100\nMaxBitrate=-5\nMp3Channels=3\n");
    EXPECT_EQ(s.Bitrate, 192);
    EXPECT_TRUE(s.VBR);
    EXPECT_EQ(s.MinBitrate, 100);
    EXPECT_EQ(s.MaxBitrate, -5);
    EXPECT_EQ(s.Mp3Channels, 3);
}

TEST_F(OutputSettingsTest, ValuesThatDoNotConvertKeepTheirDefaults) {
    EXPECT_EQ(
        load(
            "[MP3]\nBitrate=12abc\nMp3Channels=\nVBR=Yes\nMinBitrate=0x20\nMaxBitrate=99999999999\n"
            "[WAV]\nBits=1.5\nWavChannels= \nFrequency=ten\n"),
        defaults());
}

TEST_F(OutputSettingsTest, FirstSaveWritesTheWholeFileInOrder) {
    ASSERT_TRUE(WriteOutputSettings(DefaultOutputSettings, path));
    EXPECT_EQ(ReadBytes(path),
              "[MP3]\nBitrate=128\nMp3Channels=0\nMaxBitrate=320\nMinBitrate=32\nVBR=False\n"
              "[WAV]\nBits=16\nWavChannels=2\nFrequency=44100\n");
}

TEST_F(OutputSettingsTest, SaveKeepsUnrelatedSectionsAndRoundTrips) {
    OutputSettings s = load("; mine\n[Renderer]\nSoundFont=/x/y.sf2\n[MP3]\nBitrate=64\nExtra=1\n");
    s.Bitrate = 256;
    s.VBR = true;
    s.Frequency = 11025;
    ASSERT_TRUE(WriteOutputSettings(s, path));
    const QByteArray file = ReadBytes(path);
    EXPECT_TRUE(
        file.startsWith("; mine\n[Renderer]\nSoundFont=/x/y.sf2\n[MP3]\nBitrate=256\nExtra=1\n"))
        << file.constData();
    EXPECT_EQ(ReadOutputSettings(path), s);
}

TEST_F(OutputSettingsTest, WriteIniValueCleansAndRemoves) {
    EXPECT_NE(WriteIniValue("MP3", "Bitrate", QString("  19") + QChar(0) + "2  ", path), 0);
    EXPECT_EQ(ReadIniValue("MP3", "Bitrate", "", path), "192");
    EXPECT_NE(WriteIniValue("MP3", "Bitrate", "   ", path), 0);
    EXPECT_EQ(ReadIniValue("MP3", "Bitrate", "none", path), "none");
    EXPECT_NE(WriteIniValue("MP3", "", "x", path), 0);
    EXPECT_EQ(ReadBytes(path), "");
}

TEST_F(OutputSettingsTest, FailedSaveIsReportedAndLeavesTheFile) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    OutputSettings s = load("[MP3]\nBitrate=64\n");
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    s.Bitrate = 320;
    EXPECT_FALSE(WriteOutputSettings(s, path));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(ReadBytes(path), "[MP3]\nBitrate=64\n");
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

} // namespace
