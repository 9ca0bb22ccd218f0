// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Instance folders in the work folder: which ones the start-up clean-up removes, and that it
// never reaches outside the work folder. Instances in separate processes are tested with the
// program's temporary files (tests/app/TempFilesTest.cpp).
#include "platform/InstanceFolder.h"
#include "platform/FileLock.h"
#include "platform/Files.h"
#include "tests/support/Fakes.h"
#include "tests/support/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QStringList everything(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                               QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

TEST(InstanceFolders, EndedOnesGoWhileRunningOnesAndAllElseStay) {
    QTemporaryDir work;
    QTemporaryDir outside;
    QDir dir(work.path());
    const auto at = [&](const QString& name) { return work.filePath(name); };
    WriteBytes(outside.filePath("precious"), "keep");

    // Running: its lock is held (a second open file, so even this process is refused it).
    dir.mkpath("100/sub");
    WriteBytes(at("100/sub/__qlr_1.wav"), "in use");
    const auto running = platform::FileLock::acquire(at("100.lock"), platform::FileLock::Wait::No);
    ASSERT_TRUE(running.held());
    // Ended: a free lock; a folder whose instance died before locking; a lock left alone.
    dir.mkpath("200/deep/er");
    WriteBytes(at("200/deep/er/__qlr_1.mp3"), "left");
    WriteBytes(at("200.lock"), "");
    dir.mkdir("300-2");
    WriteBytes(at("400.lock"), "");
    // Ended, with links out of the work folder inside: the links go, never what they point at.
    dir.mkdir("500");
    QFile::link(outside.path(), at("500/escape"));
    QFile::link(outside.filePath("precious"), at("500/__qlr_1.wav"));
    // Links planted in place of a folder or of a lock.
    QFile::link(outside.path(), at("600"));
    dir.mkdir("700");
    QFile::link(outside.filePath("precious"), at("700.lock"));
    // Not instance folders at all: a kept result, a folder of another name.
    WriteBytes(at("song.mp3"), "kept");
    dir.mkpath("notes/inside");

    platform::RemoveEndedInstanceFolders(work.path());

    EXPECT_EQ(everything(work.path()), (QStringList{".lock", "100", "100.lock", "600", "700",
                                                    "700.lock", "notes", "song.mp3"}));
    EXPECT_EQ(ReadBytes(at("100/sub/__qlr_1.wav")), "in use");
    EXPECT_EQ(everything(outside.path()), QStringList{"precious"});
    EXPECT_EQ(ReadBytes(outside.filePath("precious")), "keep");
    EXPECT_TRUE(QFileInfo(at("notes/inside")).isDir());
}

TEST(InstanceFolders, OursIsPrivateSurvivesCleanUpsAndGoesWhenWeEnd) {
    ScopedUserFolders folders;
    QString ours;
    {
        const platform::InstanceFolderClaim claim;
        ours = platform::InstanceFolder();
        EXPECT_EQ(QFileInfo(ours).path(), platform::WorkFolder());
        EXPECT_EQ(QFileInfo(ours).permissions() & 0x0077, 0) << "group and others have no access";
        WriteBytes(ours + "/__qlr_1.wav", "in use");
        platform::RemoveEndedInstanceFolders(platform::WorkFolder());
        EXPECT_EQ(ReadBytes(ours + "/__qlr_1.wav"), "in use");
        EXPECT_EQ(platform::InstanceFolder(), ours) << "claimed once";
    }
    EXPECT_EQ(everything(platform::WorkFolder()), QStringList{".lock"});
}

} // namespace
