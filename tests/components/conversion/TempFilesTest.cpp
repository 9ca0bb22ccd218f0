// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Temporary work files in a folder of their own: free names counted per extension, and the
// deletion of exactly the program's pattern.
#include "components/conversion/TempFiles.h"
#include "components/conversion/TargetName.h"
#include "tests/support/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace quillory::conversion;

class TempFilesTest : public ::testing::Test {
protected:
    QString inFolder(const QString& name) { return folder.path() + '/' + name; }
    void touch(const QString& name) { WriteBytes(inFolder(name), "x"); }
    QString newTempPath(const QString& extension) { return NewTempPath(folder.path(), extension); }
    QTemporaryDir folder;
};

TEST_F(TempFilesTest, NumbersCountPerExtensionFromOne) {
    EXPECT_EQ(newTempPath(".wav"), inFolder("__qlr_1.wav"));
    EXPECT_EQ(newTempPath(".wav"), inFolder("__qlr_1.wav")) << "nothing is reserved";
    touch("__qlr_1.wav");
    touch("__qlr_2.wav");
    EXPECT_EQ(newTempPath(".wav"), inFolder("__qlr_3.wav"));
    EXPECT_EQ(newTempPath(".mp3"), inFolder("__qlr_1.mp3"));
    QFile::remove(inFolder("__qlr_1.wav"));
    EXPECT_EQ(newTempPath(".wav"), inFolder("__qlr_1.wav")) << "freed numbers are reused";
}

TEST_F(TempFilesTest, AnythingAtANameMakesItTaken) {
    QDir().mkdir(inFolder("__qlr_1.wav"));
    QFile::link(inFolder("nowhere"), inFolder("__qlr_2.wav"));
    EXPECT_EQ(newTempPath(".wav"), inFolder("__qlr_3.wav"));
}

TEST_F(TempFilesTest, DeleteRemovesOnlyTheProgramsPattern) {
    for (const char* name : {"__qlr_1.wav", "__qlr_17.mp3", "__qlr_x.WAV", "__qlr_2.mp3"})
        touch(name);
    for (const char* name : {"song.wav", "__qlr_1.wav.part", "qlr_1.wav", "__qlr_1.ogg"})
        touch(name);
    DeleteTempFiles(folder.path());
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files, QDir::Name),
              (QStringList{"__qlr_1.ogg", "__qlr_1.wav.part", "qlr_1.wav", "song.wav"}));
    DeleteTempFiles(folder.path()); // nothing left to delete: nothing happens
}

TEST(TargetName, ExtensionSwitchCases) {
    EXPECT_EQ(SwitchExtension("Song.WAV", ".wav", ".mp3"), "Song.mp3");
    EXPECT_EQ(SwitchExtension("  Song.wav  ", ".wav", ".mp3"), "Song.mp3");
    EXPECT_EQ(SwitchExtension("Song", ".wav", ".mp3"), "Song");
    EXPECT_EQ(SwitchExtension("", ".wav", ".mp3"), "");
    EXPECT_EQ(SwitchExtension(".wav", ".wav", ".mp3"), ".mp3");
    EXPECT_EQ(SwitchExtension("Grüße.Mp3", ".mp3", ".wav"), "Grüße.wav");
    EXPECT_EQ(SwitchExtension("a.wav.mp3", ".wav", ".mp3"), "a.wav.mp3");
}

} // namespace
