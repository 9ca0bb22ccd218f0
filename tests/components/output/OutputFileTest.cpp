// Writing beside the target and renaming into place: the target changes only at the commit, a
// dropped output leaves nothing, Keep never replaces a file that appeared, and a device or a
// pipe is written directly and never removed or replaced. The data reaches the disk before the
// rename: this test puts its own fsync, rename and renameat2 before the C library's to watch.
#include "components/output/OutputFile.h"
#include "components/output/PartFile.h"
#include "platform/DiskFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::vector<std::string> calls;
std::function<void()> beforeSync;
bool renameat2Unsupported = false;

std::string fdPath(int fd) {
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd)).string();
}

template <typename F>
F* next(const char* name) {
    return reinterpret_cast<F*>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd) {
    calls.push_back("fsync " + fdPath(fd));
    if (beforeSync)
        std::exchange(beforeSync, nullptr)();
    return next<int(int)>("fsync")(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept {
    calls.push_back(std::string("rename ") + from + " " + to);
    return next<int(const char*, const char*)>("rename")(from, to);
}

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to,
                         unsigned flags) noexcept {
    calls.push_back(std::string("renameat2 ") + from + " " + to);
    if (renameat2Unsupported) {
        errno = EINVAL;
        return -1;
    }
    return next<int(int, const char*, int, const char*, unsigned)>("renameat2")(fromDir, from,
                                                                                toDir, to, flags);
}

namespace fs = std::filesystem;
using quillory::output::Existing;
using quillory::output::OutputFile;

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
    EXPECT_EQ(moved.commit(), "");
    EXPECT_EQ(readText(path("out.mp3")), "new");
    EXPECT_EQ(names(), std::vector<std::string>{"out.mp3"});
}

TEST_F(OutputFileTest, TheDataReachesTheDiskBeforeTheRenameAndTheFolderAfterIt) {
    OutputFile output(path("song.wav"));
    ASSERT_EQ(output.create(), "");
    const std::string temporary = output.writePath().string();
    const std::string flushed = fs::canonical(output.writePath()).string();
    calls.clear();
    EXPECT_EQ(output.commit(), "");
    const std::string folder = fs::canonical(path("")).string();
    EXPECT_EQ(calls,
              (std::vector<std::string>{"fsync " + flushed,
                                        "rename " + temporary + " " + path("song.wav").string(),
                                        "fsync " + folder}));
}

// Where the file system has no rename that refuses to replace, a hard link does the same.
TEST_F(OutputFileTest, KeepNeverReplacesAFileThatAppearsEvenAtTheLastMoment) {
    for (bool unsupported : {false, true}) {
        SCOPED_TRACE(unsupported ? "without renameat2" : "with renameat2");
        renameat2Unsupported = unsupported;
        OutputFile output(path("song.wav"), Existing::Keep);
        ASSERT_EQ(output.create(), "");
        writeText(output.writePath(), "new");
        beforeSync = [this] { writeText(path("song.wav"), "someone else's"); };
        EXPECT_NE(output.commit().find("appeared meanwhile"), std::string::npos);
        output.discard();
        EXPECT_EQ(readText(path("song.wav")), "someone else's");
        EXPECT_EQ(names(), std::vector<std::string>{"song.wav"});

        OutputFile fresh(path("fresh.wav"), Existing::Keep);
        ASSERT_EQ(fresh.create(), "");
        writeText(fresh.writePath(), "new");
        EXPECT_EQ(fresh.commit(), "");
        EXPECT_EQ(readText(path("fresh.wav")), "new");
        fs::remove(path("fresh.wav"));
        fs::remove(path("song.wav"));
    }
    renameat2Unsupported = false;
}

TEST_F(OutputFileTest, AReplacedFileKeepsItsModeAndGroupAndALinkIsWrittenThrough) {
    writeText(path("private.wav"), "old");
    fs::permissions(path("private.wav"), fs::perms(0640));
    // Root may give any group; others one of their own besides the first.
    gid_t groups[64];
    const int count = getgroups(64, groups);
    const gid_t other = geteuid() == 0 ? 65534 : count > 1 ? groups[count - 1] : getegid();
    ASSERT_EQ(chown(path("private.wav").c_str(), uid_t(-1), other), 0);
    fs::create_directory(path("store"));
    writeText(path("store/real.mp3"), "old");
    fs::create_symlink("store/real.mp3", path("link.mp3"));
    for (const char* name : {"private.wav", "link.mp3"}) {
        OutputFile output(path(name));
        ASSERT_EQ(output.create(), "");
        const fs::path file = name[0] == 'l' ? path("store/real.mp3") : path(name);
        EXPECT_EQ(output.writePath().parent_path(), file.parent_path())
            << "beside the file the link points to, so the rename stays on its disk";
        writeText(output.writePath(), "new");
        EXPECT_EQ(output.commit(), "");
    }
    struct stat info {};
    ASSERT_EQ(stat(path("private.wav").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_gid, other);
    EXPECT_TRUE(fs::is_symlink(path("link.mp3")));
    EXPECT_EQ(readText(path("store/real.mp3")), "new");
    EXPECT_EQ(names(), (std::vector<std::string>{"link.mp3", "private.wav", "store"}));
}

// A name the folder takes still leaves room for the hidden one, cut at a whole character.
TEST_F(OutputFileTest, ATargetNameNearTheLimitIsWrittenAndOneBeyondItIsRefusedByName) {
    std::string longest;
    while (longest.size() < 250)
        longest += "\xC3\xA9";
    longest += ".wav";
    OutputFile output(path(longest));
    ASSERT_EQ(output.create(), "");
    const std::string hidden = output.writePath().filename().string();
    EXPECT_LE(hidden.size(), 255u);
    EXPECT_EQ(quillory::output::partOwner(hidden), quillory::output::thisProcess());
    EXPECT_FALSE(QString::fromUtf8(hidden.c_str()).contains(QChar::ReplacementCharacter));
    writeText(output.writePath(), "new");
    EXPECT_EQ(output.commit(), "");
    EXPECT_EQ(readText(path(longest)), "new");

    const std::string refused = OutputFile(path(std::string(256, 'x'))).create();
    EXPECT_NE(refused.find("is too long"), std::string::npos) << refused;
    EXPECT_EQ(refused.find("cannot write in the folder"), std::string::npos) << refused;
}

// Files of processes that ended on this machine go; files of other machines, of running
// processes (seen by their id, or by their lock where the id is not theirs to see) stay.
TEST_F(OutputFileTest, TheNextWriteIntoAFolderSweepsWhatEndedProcessesLeft) {
    using quillory::output::partName;
    using quillory::output::PartOwner;
    const pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    waitpid(ended, nullptr, 0);
    const std::string host = quillory::output::thisProcess().host;
    const std::string gone = partName("a.wav", PartOwner{ended, host}, 0, 255);
    const std::string earlierSelf = partName("a.wav", quillory::output::thisProcess(), 99, 255);
    const std::string running = partName("a.wav", PartOwner{getppid(), host}, 0, 255);
    const std::string elsewhere = partName("a.wav", PartOwner{ended, host + "x"}, 0, 255);
    const std::string locked = partName("b.wav", PartOwner{ended, host}, 0, 255);
    for (const std::string& name :
         {gone, earlierSelf, running, elsewhere, locked, std::string(".a.wav.0123abcd0001.part")})
        writeText(path(name), "left");
    const int lock = open(path(locked).c_str(), O_RDONLY);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    OutputFile output(path("c.wav"));
    ASSERT_EQ(output.create(), "");
    output.discard();
    close(lock);
    std::vector<std::string> kept{running, elsewhere, locked, ".a.wav.0123abcd0001.part"};
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

} // namespace
