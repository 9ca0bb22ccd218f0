// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/shared/TempFiles.h"
#include "platform/Files.h"
#include "tests/support/Fakes.h"
#include "tests/support/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/types.h>

namespace {

// Another instance running beside the test, in a process of its own: it has made a temporary
// WAV and MP3 file in its folder and waits for commands (tests/app/shared/InstanceHelper.cpp).
class OtherInstance {
public:
    OtherInstance() {
        process_.start(QStringLiteral(INSTANCE_HELPER), QStringList());
        folder = readLine();
        wav = readLine();
        mp3 = readLine();
    }
    ~OtherInstance() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.closeWriteChannel();
        if (!process_.waitForFinished(60000))
            kill();
    }
    QString command(const QByteArray& text) {
        process_.write(text + '\n');
        return readLine();
    }
    // Ends it the ordinary way, as closing its window does.
    void end() {
        process_.closeWriteChannel();
        process_.waitForFinished(60000);
    }
    // kill -9: no chance to tidy up.
    void kill() {
        process_.kill();
        process_.waitForFinished(60000);
    }

    QString folder;
    QString wav;
    QString mp3;

private:
    QString readLine() {
        while (!process_.canReadLine() && process_.waitForReadyRead(60000)) {
        }
        return QString::fromLocal8Bit(process_.readLine()).trimmed();
    }
    QProcess process_;
};

// A detached child of another instance, ended when the test is done with it.
struct DetachedChild {
    ~DetachedChild() {
        if (pid > 0)
            ::kill(pid_t(pid), SIGKILL);
    }
    qint64 pid = 0;
};

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

TEST_F(TempFilesTest, InstancesSideBySideNeverTouchEachOthersFiles) {
    const QString mine = NewTempPath(".wav");
    WriteBytes(mine, "mine");
    OtherInstance a;
    OtherInstance b;
    ASSERT_TRUE(QFile::exists(a.wav) && QFile::exists(b.wav));
    EXPECT_NE(a.folder, b.folder);
    EXPECT_NE(a.folder, WindowsFolder());
    EXPECT_EQ(QFileInfo(a.folder).path(), platform::WorkFolder());
    EXPECT_EQ(a.wav, a.folder + "/__qlr_1.wav");
    EXPECT_EQ(b.wav, b.folder + "/__qlr_1.wav") << "each instance counts from 1 in its own folder";
    EXPECT_EQ(ReadBytes(mine), "mine") << "another instance's start-up leaves a running one alone";

    EXPECT_EQ(a.command("delete"), "deleted");
    EXPECT_FALSE(QFile::exists(a.wav) || QFile::exists(a.mp3));
    EXPECT_TRUE(QFile::exists(b.wav) && QFile::exists(b.mp3));
    EXPECT_EQ(ReadBytes(mine), "mine");
    DeleteTempFiles();
    EXPECT_FALSE(QFile::exists(mine));
    EXPECT_TRUE(QFile::exists(b.wav) && QFile::exists(b.mp3));
}

TEST_F(TempFilesTest, AnInstanceKilledMidRunLeavesNothingAfterTheNextStart) {
    DetachedChild child;
    QString killedFolder;
    {
        OtherInstance killed;
        killedFolder = killed.folder;
        // Programs it started (the mixer, the browser) outlive it and must not keep its lock.
        child.pid = killed.command("spawn").toLongLong();
        ASSERT_GT(child.pid, 0);
        killed.kill();
    }
    ASSERT_TRUE(QFile::exists(killedFolder + "/__qlr_1.wav"));

    OtherInstance next;
    EXPECT_FALSE(QFileInfo::exists(killedFolder));
    EXPECT_FALSE(QFileInfo::exists(killedFolder + ".lock"));
    EXPECT_TRUE(QFile::exists(next.wav));
    next.end();
    EXPECT_EQ(QDir(platform::WorkFolder())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList{".lock"})
        << "an instance that ends removes its own folder";
}

} // namespace
