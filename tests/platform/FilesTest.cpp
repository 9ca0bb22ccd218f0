// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/Files.h"
#include "platform/Colour.h"
#include "platform/CommonDialog.h"
#include "platform/Rounding.h"
#include "tests/support/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPalette>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class FilesTest : public ::testing::Test {
protected:
    QString make(const QString& name, const QByteArray& bytes = "x") {
        const QString p = dir.filePath(name);
        WriteBytes(p, bytes);
        return p;
    }
    QStringList names(const QStringList& paths) {
        QStringList result;
        for (const QString& p : paths)
            result << QFileInfo(p).fileName();
        result.sort();
        return result;
    }
    QTemporaryDir dir;
};

TEST_F(FilesTest, FindsOrdinaryFilesByWildcardWithoutRegardToCase) {
    make("__qlr_1.wav");
    make("__QLR_2.WAV");
    make(".__qlr_3.wav");
    make("__qlr_4.wav.bak");
    make("x__qlr_5.wav");
    make("__qlr_6.mp3");
    QDir(dir.path()).mkdir("__qlr_7.wav");
    EXPECT_EQ(names(platform::FindFiles(dir.filePath("__qlr_*.wav"))),
              (QStringList{"__QLR_2.WAV", "__qlr_1.wav"}));
    EXPECT_EQ(names(platform::FindFiles(dir.filePath("*.wav"))),
              (QStringList{".__qlr_3.wav", "__QLR_2.WAV", "__qlr_1.wav", "x__qlr_5.wav"}));
    EXPECT_EQ(names(platform::FindFiles(dir.filePath("__qlr_?.mp3"))), QStringList{"__qlr_6.mp3"});
}

TEST_F(FilesTest, FileExistsTakesThePathLiterallyAndCountsDotFiles) {
    make(".hidden");
    make("a*.mid");
    QDir(dir.path()).mkdir("folder.mid");
    EXPECT_TRUE(platform::FileExists(dir.filePath(".hidden")));
    EXPECT_TRUE(platform::FileExists(dir.filePath("a*.mid")));
    EXPECT_FALSE(platform::FileExists(dir.filePath("a?.mid")));
    EXPECT_FALSE(platform::FileExists(dir.filePath("folder.mid")));
    EXPECT_FALSE(platform::FileExists(QString()));
}

TEST_F(FilesTest, DeleteFilesRemovesOnlyMatchesAndNeverFollowsLinks) {
    QTemporaryDir elsewhere;
    const QString precious = elsewhere.filePath("precious.wav");
    WriteBytes(precious, "keep");
    QFile::link(precious, dir.filePath("__qlr_9.wav"));
    make("__qlr_1.wav");
    make("song.wav");
    QDir(dir.path()).mkdir("sub");
    WriteBytes(dir.filePath("sub/__qlr_2.wav"), "x");
    EXPECT_EQ(platform::DeleteFiles(dir.filePath("__qlr_*.wav")), 2);
    EXPECT_EQ(ReadBytes(precious), "keep");
    EXPECT_TRUE(QFile::exists(dir.filePath("song.wav")));
    EXPECT_TRUE(QFile::exists(dir.filePath("sub/__qlr_2.wav")));
    EXPECT_EQ(platform::DeleteFiles(dir.filePath("__qlr_*.wav")), 0);
}

TEST_F(FilesTest, CopyReplacesTheTargetKeepingItsGroupAndAFailedCopyLeavesItWhole) {
    const QString source = make("ä source.mp3", QByteArray(3 << 20, 'a'));
    const QString target = make("target.mp3", "old");
    const gid_t group = geteuid() == 0 ? 65534 : getegid(); // root may give any group
    ASSERT_EQ(chown(QFile::encodeName(target).constData(), uid_t(-1), group), 0);
    EXPECT_TRUE(platform::CopyFile(source, target));
    EXPECT_EQ(QFileInfo(target).groupId(), group);
    EXPECT_EQ(ReadBytes(target).size(), 3 << 20);
    EXPECT_FALSE(platform::CopyFile(dir.filePath("missing.mp3"), target));
    EXPECT_EQ(ReadBytes(target).size(), 3 << 20);
    EXPECT_FALSE(platform::CopyFile(source, dir.filePath("no/such/folder/x.mp3")));
}

TEST_F(FilesTest, WorkFolderIsPrivate) {
    QTemporaryDir cache;
    const QByteArray saved = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    const QString folder = platform::WorkFolder();
    qputenv("XDG_CACHE_HOME", saved);
    EXPECT_TRUE(folder.startsWith(cache.path()));
    EXPECT_FALSE(folder.endsWith('/'));
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x0077, 0) << "group and others have no access";
}

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(platform::RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(platform::RoundHalfEven(3.5), 4.0);
    EXPECT_EQ(platform::RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(platform::RoundHalfEven(127.5), 128.0);
    EXPECT_EQ(platform::RoundHalfEven(172.5), 172.0);
    EXPECT_EQ(platform::RoundHalfEven(191.25), 191.0);
    EXPECT_EQ(platform::RoundToInt<std::int16_t>(32767.4), std::optional<std::int16_t>(32767));
    EXPECT_EQ(platform::RoundToInt<std::int16_t>(32767.5), std::nullopt);
    EXPECT_EQ(platform::RoundToInt<std::int16_t>(std::nan("")), std::nullopt);
}

TEST(Colour, PlainAndSystemColours) {
    EXPECT_EQ(platform::ToQColor(0xFED399), QColor(153, 211, 254));
    EXPECT_EQ(platform::ToQColor(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(platform::ToQColor(platform::ColourGreyText),
              QGuiApplication::palette().color(QPalette::Disabled, QPalette::WindowText));
    EXPECT_EQ(platform::ToQColor(platform::ColourButtonFace),
              QGuiApplication::palette().color(QPalette::Button));
}

TEST(CommonDialogFilter, ConvertsPipeSyntaxToQtFilters) {
    EXPECT_EQ(platform::ToQtFilters("MIDI Files(*.mid;*.midi)|*.mid;*.midi"),
              QStringList{"MIDI Files (*.mid *.midi)"});
    EXPECT_EQ(platform::ToQtFilters("MP3 Files(*.mp3)|*.mp3|WAV Files(*.wav)|*.wav"),
              (QStringList{"MP3 Files (*.mp3)", "WAV Files (*.wav)"}));
}

} // namespace
