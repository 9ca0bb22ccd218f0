#include "app/main/TempFiles.h"
#include "tests/support/Fakes.h"
#include "tests/support/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

class TempFilesTest : public ::testing::Test {
protected:
    QString inFolder(const QString& name) { return WindowsFolder() + '/' + name; }
    void touch(const QString& name) { WriteBytes(inFolder(name), "x"); }
    ScopedUserFolders folders;
};

TEST_F(TempFilesTest, FolderIsThePrivateWorkFolder) {
    EXPECT_TRUE(WindowsFolder().startsWith(folders.root.path()));
    EXPECT_FALSE(WindowsFolder().endsWith('/'));
    EXPECT_TRUE(QFileInfo(WindowsFolder()).isDir());
}

TEST_F(TempFilesTest, NumbersCountPerExtensionFromOne) {
    EXPECT_EQ(NewTempPath(".wav"), inFolder("__qlr_1.wav"));
    EXPECT_EQ(NewTempPath(".wav"), inFolder("__qlr_1.wav")) << "nothing is reserved";
    touch("__qlr_1.wav");
    touch("__qlr_2.wav");
    EXPECT_EQ(NewTempPath(".wav"), inFolder("__qlr_3.wav"));
    EXPECT_EQ(NewTempPath(".mp3"), inFolder("__qlr_1.mp3"));
    QFile::remove(inFolder("__qlr_1.wav"));
    EXPECT_EQ(NewTempPath(".wav"), inFolder("__qlr_1.wav")) << "freed numbers are reused";
}

TEST_F(TempFilesTest, AnythingAtANameMakesItTaken) {
    QDir().mkdir(inFolder("__qlr_1.wav"));
    QFile::link(inFolder("nowhere"), inFolder("__qlr_2.wav"));
    EXPECT_EQ(NewTempPath(".wav"), inFolder("__qlr_3.wav"));
}

TEST_F(TempFilesTest, DeleteRemovesOnlyTheProgramsPattern) {
    for (const char* name : {"__qlr_1.wav", "__qlr_17.mp3", "__qlr_x.WAV", "__qlr_2.mp3"})
        touch(name);
    for (const char* name : {"song.wav", "__qlr_1.wav.part", "qlr_1.wav", "__qlr_1.ogg"})
        touch(name);
    DeleteTempFiles();
    EXPECT_EQ(QDir(WindowsFolder()).entryList(QDir::Files, QDir::Name),
              (QStringList{"__qlr_1.ogg", "__qlr_1.wav.part", "qlr_1.wav", "song.wav"}));
    DeleteTempFiles(); // nothing left to delete: nothing happens
}

} // namespace
