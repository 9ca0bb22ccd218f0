// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/Profile.h"
#include "tests/support/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    QString read(const QString& section, const QString& key, const QString& def = "dflt",
                 int size = 2048) {
        QString out;
        const int n = GetPrivateProfileString(section, key, def, out, size, path);
        EXPECT_EQ(n, out.size());
        return out;
    }
    int write(const QString& section, const std::optional<QString>& key,
              const std::optional<QString>& value) {
        return WritePrivateProfileString(section, key, value, path);
    }

    QTemporaryDir dir;
    QString path = dir.filePath("options.ini");
};

struct ReadCase {
    const char* content;
    const char* section;
    const char* key;
    const char* expected;
};

class ProfileReadTable : public ProfileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ProfileReadTable, ReadsTheExpectedValue) {
    const ReadCase& c = GetParam();
    WriteBytes(path, QByteArray(c.content));
    EXPECT_EQ(read(QString::fromUtf8(c.section), QString::fromUtf8(c.key)),
              QString::fromUtf8(c.expected))
        << c.content;
}

INSTANTIATE_TEST_SUITE_P(
    Contents, ProfileReadTable,
    ::testing::Values(ReadCase{"[MP3]\nBitrate=192\n", "MP3", "Bitrate", "192"},
                      ReadCase{"[MP3]\r\nBitrate=192\r\nVBR=True\r\n", "MP3", "VBR", "True"},
                      ReadCase{"\xEF\xBB\xBF[MP3]\nBitrate=64\n", "MP3", "Bitrate", "64"},
                      ReadCase{"[mp3]\nbitrate=96\n", "MP3", "BITRATE", "96"},
                      ReadCase{"  [ MP3 ]  \n  Bitrate  =   192   \n", "MP3", "Bitrate", "192"},
                      ReadCase{"[WAV]\nBits=8\n", "MP3", "Bits", "dflt"},
                      ReadCase{"[MP3]\nBitrate=192\n[WAV]\nBits=8\n", "WAV", "Bitrate", "dflt"},
                      ReadCase{"Bitrate=1\n[MP3]\n", "MP3", "Bitrate", "dflt"},
                      ReadCase{"[MP3]\n;Bitrate=1\n#Bitrate=2\n", "MP3", "Bitrate", "dflt"},
                      ReadCase{"[MP3]\nBitrate=\n", "MP3", "Bitrate", ""},
                      ReadCase{"[MP3]\nBitrate=a=b\n", "MP3", "Bitrate", "a=b"},
                      ReadCase{"[MP3]\nBitrate=1\nBitrate=2\n", "MP3", "Bitrate", "1"},
                      ReadCase{"[MP3]\nBitrate=1\n[MP3]\nBitrate=2\nVBR=True\n", "MP3", "VBR",
                               "dflt"},
                      ReadCase{"[MP3]\nName=Gr\xC3\xBC\xC3\x9F"
                               "e\n",
                               "MP3", "Name", "Grüße"},
                      ReadCase{"\x01\x02\xFF[MP3\n=\n[MP3]\nBitrate=7\n", "MP3", "Bitrate", "7"}));

TEST_F(ProfileTest, NulBytesInTheFileDoNotEndTheRead) {
    WriteBytes(path, QByteArray("\0\0garbage\0\n[MP3]\nBitrate=7\n", 27));
    EXPECT_EQ(read("MP3", "Bitrate"), "7");
}

TEST_F(ProfileTest, MissingFileGivesTheDefaultAndCreatesNothing) {
    EXPECT_EQ(read("MP3", "Bitrate", "128"), "128");
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(ProfileTest, LongValuesAreCutToTheBuffer) {
    WriteBytes(path, "[MP3]\nKey=" + QByteArray(5000, 'x') + "\n");
    EXPECT_EQ(read("MP3", "Key", "", 2048).size(), 2047);
    EXPECT_EQ(read("MP3", "Key", "", 1), "");
}

TEST_F(ProfileTest, FirstWriteCreatesSectionsInOrder) {
    EXPECT_NE(write("MP3", QString("Bitrate"), QString("128")), 0);
    EXPECT_NE(write("MP3", QString("VBR"), QString("False")), 0);
    EXPECT_NE(write("WAV", QString("Bits"), QString("16")), 0);
    EXPECT_EQ(ReadBytes(path), "[MP3]\nBitrate=128\nVBR=False\n[WAV]\nBits=16\n");
}

TEST_F(ProfileTest, ReplacesInPlaceAndKeepsEveryOtherLineByteForByte) {
    const QByteArray before = "\xEF\xBB\xBF; settings\r\n[Other]\r\nx=\xE9\r\n\r\n"
                              "[mp3]\r\n  BITRATE = 64  \r\nVBR=True\r\n\r\n[WAV]\r\nBits=8\r\n";
    WriteBytes(path, before);
    ASSERT_NE(write("MP3", QString("Bitrate"), QString("192")), 0);
    QByteArray expected = before;
    expected.replace("  BITRATE = 64  ", "Bitrate=192");
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(ProfileTest, AppendsMissingKeyAtTheEndOfItsSectionBeforeBlankLines) {
    WriteBytes(path, "[MP3]\nBitrate=64\n\n[WAV]\nBits=8\n");
    ASSERT_NE(write("MP3", QString("VBR"), QString("True")), 0);
    ASSERT_NE(write("WAV", QString("Frequency"), QString("22050")), 0);
    EXPECT_EQ(ReadBytes(path), "[MP3]\nBitrate=64\nVBR=True\n\n[WAV]\nBits=8\nFrequency=22050\n");
}

TEST_F(ProfileTest, AppendsMissingSectionAtTheEndOfAFileWithoutFinalLineEnd) {
    WriteBytes(path, "[MP3]\nBitrate=64");
    ASSERT_NE(write("WAV", QString("Bits"), QString("8")), 0);
    EXPECT_EQ(ReadBytes(path), "[MP3]\nBitrate=64\n[WAV]\nBits=8\n");
}

TEST_F(ProfileTest, RemovesAKeyAndAWholeSection) {
    WriteBytes(path, "[MP3]\nBitrate=64\nVBR=True\nvbr=False\n[WAV]\nBits=8\n[Keep]\nk=v\n");
    ASSERT_NE(write("MP3", QString("VBR"), std::nullopt), 0);
    EXPECT_EQ(read("MP3", "VBR"), "dflt");
    ASSERT_NE(write("wav", std::nullopt, std::nullopt), 0);
    EXPECT_EQ(ReadBytes(path), "[MP3]\nBitrate=64\n[Keep]\nk=v\n");
}

TEST_F(ProfileTest, DuplicatesFirstWinsForWritesToo) {
    WriteBytes(path, "[MP3]\nBitrate=1\nBitrate=2\n[MP3]\nBitrate=3\n");
    ASSERT_NE(write("MP3", QString("Bitrate"), QString("9")), 0);
    EXPECT_EQ(ReadBytes(path), "[MP3]\nBitrate=9\nBitrate=2\n[MP3]\nBitrate=3\n");
    ASSERT_NE(write("MP3", std::nullopt, std::nullopt), 0);
    EXPECT_EQ(ReadBytes(path), "");
}

TEST_F(ProfileTest, RefusesTextThatWouldPlantOtherLines) {
    WriteBytes(path, "[MP3]\nBitrate=64\n");
    EXPECT_EQ(write("MP3", QString("Bitrate"), QString("1\n[Evil]\nx=1")), 0);
    EXPECT_EQ(write("MP3", QString("a=b"), QString("1")), 0);
    EXPECT_EQ(write("M]P3", QString("a"), QString("1")), 0);
    EXPECT_EQ(write("", QString("a"), QString("1")), 0);
    EXPECT_EQ(ReadBytes(path), "[MP3]\nBitrate=64\n");
}

TEST_F(ProfileTest, FailedWriteLeavesTheOldFileWhole) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    const QByteArray before = "[MP3]\nBitrate=64\n";
    WriteBytes(path, before);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_EQ(write("MP3", QString("Bitrate"), QString("192")), 0);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"options.ini"});
}

TEST_F(ProfileTest, UnreadableFileIsNeitherReadNorOverwritten) {
    QDir().mkdir(path); // a folder where the file should be
    EXPECT_EQ(read("MP3", "Bitrate", "128"), "128");
    EXPECT_EQ(write("MP3", QString("Bitrate"), QString("192")), 0);
    EXPECT_TRUE(QFileInfo(path).isDir());
}

TEST_F(ProfileTest, VeryLongLinesAndBinaryContentStillRead) {
    QByteArray content = QByteArray(3 * 1024 * 1024, '\x01');
    content += "\n[WAV]\nBits=8\n";
    WriteBytes(path, content);
    EXPECT_EQ(read("WAV", "Bits"), "8");
    ASSERT_NE(write("WAV", QString("Bits"), QString("16")), 0);
    EXPECT_TRUE(ReadBytes(path).startsWith(QByteArray(3 * 1024 * 1024, '\x01')));
    EXPECT_EQ(read("WAV", "Bits"), "16");
}

} // namespace
