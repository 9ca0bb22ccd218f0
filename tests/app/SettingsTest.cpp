#include "app/settings/Settings.h"
#include "tests/support/Fakes.h"
#include "tests/support/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
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

TEST(SettingsPathFor, BesideAWritableProgramOtherwiseInTheUserConfig) {
    ScopedUserFolders folders;
    QTemporaryDir program;
    EXPECT_EQ(SettingsPathFor(program.path()), program.path() + "/options.ini");
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    QFile::setPermissions(program.path(), QFile::ReadOwner | QFile::ExeOwner);
    const QString fallback = SettingsPathFor(program.path());
    QFile::setPermissions(program.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(fallback, qEnvironmentVariable("XDG_CONFIG_HOME") + "/quillory/options.ini");
}

} // namespace
