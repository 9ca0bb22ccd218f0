// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Writing beside the target and renaming into place: the target changes only at the commit, and
// only once its data is on the disk; a dropped output leaves nothing, Keep never replaces a file
// that appeared, and a device or a pipe is written directly and never removed or replaced. This
// test puts its own fsync, rename and renameat2 before the C library's to watch them.
// Claims on targets: one holder at a time, an ended process's is taken over, another machine's
// stays; renames that a killed process left half made are completed by the folder's next sweep
// from any point between two of them, and undone when what one moves is gone; a journal cut short
// is no journal. The kills themselves are in the converter's tests (ConvertCliTest); here the
// folder is laid out as a kill leaves it.
#include "components/output/OutputFile.h"
#include "components/output/Claim.h"
#include "components/output/PartFile.h"
#include "platform/DiskFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> calls;   // the flushes and renames, in order
std::function<void()> beforeSync; // runs once, just before the next flush
bool noRenameat2 = false;         // as on a file system that does not have it

template <typename F>
F* real(const char* name) {
    return reinterpret_cast<F*>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd) {
    calls.push_back("fsync " + fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).string());
    if (beforeSync)
        std::exchange(beforeSync, nullptr)();
    return real<int(int)>("fsync")(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept {
    calls.push_back(std::string("rename ") + from + " " + to);
    return real<int(const char*, const char*)>("rename")(from, to);
}

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to,
                         unsigned flags) noexcept {
    if (noRenameat2)
        return errno = EINVAL, -1;
    return real<int(int, const char*, int, const char*, unsigned)>("renameat2")(fromDir, from,
                                                                                toDir, to, flags);
}

using namespace quillory::output;

namespace {

class OutputFileTest : public ::testing::Test {
protected:
    fs::path path(const std::string& name) const {
        return fs::path(dir_.path().toStdString()) / name;
    }

    static void writeText(const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }
    static std::string readText(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Hidden files too, so a stray temporary file shows.
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(path("")))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    // A hidden name that an ended process of this machine made.
    fs::path endedPart(const std::string& target, unsigned n) const {
        return path(partName(target, {kEnded, thisProcess().host}, n, 255));
    }
    static constexpr long kEnded = (1 << 22) + 1; // beyond every process id Linux gives

    QTemporaryDir dir_;
};

TEST_F(OutputFileTest, TheTargetChangesOnlyAtTheCommit) {
    writeText(path("out.mp3"), "keep me");
    {
        OutputFile output(path("out.mp3"));
        ASSERT_EQ(output.create(), "");
        ASSERT_EQ(names().size(), 2u);
        EXPECT_EQ(names()[0].rfind(".out.mp3.", 0), 0u) << names()[0];
        EXPECT_EQ(output.writePath().parent_path(), path("out.mp3").parent_path());
        writeText(output.writePath(), "new");
        EXPECT_EQ(readText(path("out.mp3")), "keep me") << "replaced before the commit";
    }
    EXPECT_EQ(readText(path("out.mp3")), "keep me") << "a dropped output replaces nothing";
    EXPECT_EQ(names(), std::vector<std::string>{"out.mp3"}) << "temporary file left";

    OutputFile output(path("out.mp3"));
    ASSERT_EQ(output.create(), "");
    writeText(output.writePath(), "new");
    // The owner changes hands (into an engine, say) without the temporary file going.
    OutputFile moved = std::move(output);
    output = OutputFile();
    const fs::path temporary = moved.writePath();
    const std::string flushed = fs::canonical(temporary).string();
    calls.clear();
    EXPECT_EQ(moved.commit(), "");
    EXPECT_EQ(readText(path("out.mp3")), "new");
    EXPECT_EQ(names(), std::vector<std::string>{"out.mp3"});
    // The data reaches the disk before the rename, the folder after it.
    EXPECT_EQ(calls, (std::vector<std::string>{"fsync " + flushed,
                                               "rename " + temporary.string() + " " +
                                                   path("out.mp3").string(),
                                               "fsync " + fs::canonical(path("")).string()}));
}

// Where the file system has no rename that refuses to replace, a hard link does the same.
TEST_F(OutputFileTest, KeepNeverReplacesAFileThatAppearsEvenAtTheLastMoment) {
    for (bool without : {false, true}) {
        SCOPED_TRACE(without ? "without renameat2" : "with renameat2");
        noRenameat2 = without;
        OutputFile taken(path("taken.wav"), Existing::Keep), free(path("free.wav"), Existing::Keep);
        ASSERT_EQ(taken.create() + free.create(), "");
        beforeSync = [this] { writeText(path("taken.wav"), "someone else's"); };
        EXPECT_NE(taken.commit().find("appeared meanwhile"), std::string::npos);
        EXPECT_EQ(free.commit(), "");
        taken.discard();
        EXPECT_EQ(readText(path("taken.wav")), "someone else's");
        EXPECT_EQ(names(), (std::vector<std::string>{"free.wav", "taken.wav"}));
        fs::remove(path("taken.wav"));
        fs::remove(path("free.wav"));
    }
    noRenameat2 = false;
}

// Beside the file the link points to, so that the rename stays on its disk.
TEST_F(OutputFileTest, ALinkIsWrittenThroughFromBesideTheFileItPointsTo) {
    fs::create_directory(path("store"));
    fs::create_symlink("store/real.mp3", path("link.mp3"));
    OutputFile output(path("link.mp3"));
    ASSERT_EQ(output.create(), "");
    EXPECT_TRUE(fs::equivalent(output.writePath().parent_path(), path("store")));
    EXPECT_EQ(output.commit(), "");
    EXPECT_TRUE(fs::is_symlink(path("link.mp3")) && fs::is_regular_file(path("store/real.mp3")));
}

// A name the folder takes leaves room for the hidden one, cut at a whole character; a longer
// one is refused by name.
TEST_F(OutputFileTest, ATargetNameNearTheLimitIsWrittenAndOneBeyondItIsRefusedByName) {
    std::string longest;
    while (longest.size() < 250)
        longest += "\xC3\xA9";
    OutputFile output(path(longest += ".wav"));
    ASSERT_EQ(output.create(), "");
    EXPECT_FALSE(QString::fromUtf8(output.writePath().filename().c_str())
                     .contains(QChar::ReplacementCharacter));
    EXPECT_EQ(output.commit(), "");
    EXPECT_NE(OutputFile(path(std::string(256, 'x'))).create().find("is too long"),
              std::string::npos);
}

// What the next write removes: a file of an ended process, and one of an earlier process that
// had this one's id. What it keeps: a running process's, one of another machine, one whose
// writer holds its lock though its id is not to be seen here, and what is not such a file.
TEST_F(OutputFileTest, TheNextWriteIntoAFolderSweepsWhatEndedProcessesLeft) {
    const PartOwner me = thisProcess();
    const auto name = [](long pid, const std::string& host, unsigned n) {
        return partName("a.wav", {pid, host}, n, 255);
    };
    std::vector<std::string> kept{name(getppid(), me.host, 0), name(kEnded, me.host + "x", 0),
                                  name(kEnded, me.host, 1), ".a.wav.0123abcd0001.part"};
    for (const std::string& file : {name(kEnded, me.host, 0), name(me.pid, me.host, 99)})
        writeText(path(file), "left");
    for (const std::string& file : kept)
        writeText(path(file), "left");
    const int lock = open(path(kept[2]).c_str(), O_RDONLY);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    OutputFile(path("c.wav")).create();
    close(lock);
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(names(), kept);
}

TEST_F(OutputFileTest, MissingFolderOrAFolderAtTheTargetIsRefusedUpFront) {
    EXPECT_NE(OutputFile(path("missing/song.wav")).create().find("does not exist"),
              std::string::npos);
    fs::create_directory(path("taken.wav"));
    EXPECT_NE(OutputFile(path("taken.wav")).create().find("is a folder"), std::string::npos);
    EXPECT_EQ(names(), std::vector<std::string>{"taken.wav"});
}

TEST_F(OutputFileTest, APipeIsWrittenDirectlyAndNeverRemovedOrReplaced) {
    ASSERT_EQ(mkfifo(path("pipe.mp3").c_str(), 0600), 0);
    for (bool commit : {false, true}) {
        OutputFile output(path("pipe.mp3"));
        ASSERT_EQ(output.create(), "");
        EXPECT_TRUE(output.direct());
        EXPECT_EQ(output.writePath(), path("pipe.mp3"));
        if (commit) {
            EXPECT_EQ(output.commit(), "");
        }
    }
    EXPECT_TRUE(fs::is_fifo(path("pipe.mp3")));
    EXPECT_EQ(names(), std::vector<std::string>{"pipe.mp3"});
}

TEST_F(OutputFileTest, OneClaimOnATargetAtATimeAndOneThatAnEndedProcessLeftIsTakenOver) {
    Claim first = Claim::take(path("a.wav"));
    ASSERT_TRUE(first.held()) << first.why();
    EXPECT_EQ(names(), std::vector<std::string>{".a.wav.claim"});
    const Claim second = Claim::take(path("a.wav"));
    EXPECT_EQ(second.status(), Claim::Status::Busy);
    EXPECT_EQ(second.why(), "process " + std::to_string(thisProcess().pid) + " on this machine");
    first.release();
    EXPECT_TRUE(names().empty());

    const std::string host = thisProcess().host;
    writeText(claimPath(path("b.wav")),
              "quillory claim " + std::to_string(kEnded) + "@" + host + "\n");
    writeText(claimPath(path("c.wav")), "quillory claim 1@" + host + "x\n");
    writeText(claimPath(path("d.wav")), "my own notes\n");
    const Claim ended = Claim::take(path("b.wav"));
    EXPECT_TRUE(ended.held()) << ended.why();
    const Claim elsewhere = Claim::take(path("c.wav"));
    EXPECT_EQ(elsewhere.status(), Claim::Status::Busy);
    EXPECT_EQ(elsewhere.why(), "process 1 on " + host + "x");
    const Claim foreign = Claim::take(path("d.wav"));
    EXPECT_EQ(foreign.status(), Claim::Status::Failed);
    EXPECT_NE(foreign.why().find("is in the way"), std::string::npos) << foreign.why();
    EXPECT_EQ(readText(claimPath(path("d.wav"))), "my own notes\n");
}

// A song's stems replaced: the old folder aside, the new one in, the new song over the old.
TEST_F(OutputFileTest, RenamesLeftHalfMadeAreCompletedOrUndoneByTheNextSweep) {
    struct Case {
        int made;         // moves the killed process made
        bool lose;        // the new song's hidden file is gone meanwhile
        bool cut;         // the journal lacks its last byte
        const char* song; // what the folder holds in the end
    } cases[] = {{0, false, false, "new"}, {1, false, false, "new"}, {2, false, false, "new"},
                 {3, false, false, "new"}, {2, true, false, "old"},  {0, false, true, "old"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.made) + (c.lose ? " lost" : "") + (c.cut ? " cut" : ""));
        for (const std::string& name : names())
            fs::remove_all(path(name));
        fs::create_directory(path("song.stems"));
        writeText(path("song.stems/piano.wav"), "old");
        writeText(path("song.wav"), "old");
        const fs::path newStems = endedPart("song.stems", 0), aside = endedPart("song.stems", 1),
                       newSong = endedPart("song.wav", 2);
        fs::create_directory(newStems);
        writeText(newStems / "violin.wav", "new");
        writeText(newSong, "new");
        Journal journal{{path("song.stems"), aside},
                        {newStems, path("song.stems")},
                        {newSong, path("song.wav"), true}};
        for (Move& move : journal)
            move.id = platform::FileNumber(move.from);
        std::string bytes = "quillory claim " + std::to_string(kEnded) + "@" + thisProcess().host +
                            "\n" + encodeJournal(journal, path(""));
        writeText(claimPath(path("song.wav")), c.cut ? bytes.substr(0, bytes.size() - 1) : bytes);
        for (int i = 0; i < c.made; ++i)
            fs::rename(journal[i].from, journal[i].to);
        if (c.lose)
            fs::remove(newSong);

        sweepParts(path(""));
        EXPECT_EQ(names(), (std::vector<std::string>{"song.stems", "song.wav"}));
        EXPECT_EQ(readText(path("song.wav")), c.song);
        EXPECT_EQ(readText(path("song.stems") /
                           (c.song == std::string("new") ? "violin.wav" : "piano.wav")),
                  c.song);
    }
}

} // namespace
