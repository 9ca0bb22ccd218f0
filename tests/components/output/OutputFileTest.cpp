// Writing beside the target and renaming into place: the target changes only at the commit, a
// dropped output leaves nothing, Keep never replaces a file that appeared, and a device or a
// pipe is written directly and never removed or replaced.
#include "components/output/OutputFile.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <fstream>
#include <sys/stat.h>

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

TEST_F(OutputFileTest, KeepLeavesAFileThatAppearedMeanwhile) {
    OutputFile output(path("song.wav"), Existing::Keep);
    ASSERT_EQ(output.create(), "");
    writeText(output.writePath(), "new");
    writeText(path("song.wav"), "someone else's");
    EXPECT_NE(output.commit().find("appeared meanwhile"), std::string::npos);
    output.discard();
    EXPECT_EQ(readText(path("song.wav")), "someone else's");
    EXPECT_EQ(names(), std::vector<std::string>{"song.wav"});
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
