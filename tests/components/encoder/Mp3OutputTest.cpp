// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The MP3 file writer every MP3 goes through: the header frame put in place in a file (judged by
// libmpg123), a pipe that cannot be rewound written as it comes, and failures that name their
// step and leave nothing behind.
#include "components/encoder/Mp3Output.h"
#include "tests/components/encoder/Mp3Probe.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include <sys/stat.h>

using namespace encoder;
namespace fs = std::filesystem;

namespace {

constexpr int kRate = 44100;

// One second of a stereo tone encoded with a title, so that the header frame sits after a tag.
struct Encoded {
    Mp3Stream stream;
    std::vector<std::uint8_t> audio; // every byte the stream gave, the placeholder frame first
    Encoded() {
        EXPECT_TRUE(stream.open({}, kRate, 2, {.title = "Tone"})) << stream.error();
        std::vector<float> samples(2 * kRate);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = float(0.3 * std::sin(double(i / 2) * 0.06));
        const auto bytes = stream.encode(samples.data(), kRate);
        audio.assign(bytes->begin(), bytes->end()); // valid only until the flush
        const auto tail = stream.flush();
        audio.insert(audio.end(), tail->begin(), tail->end());
    }
};

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Mp3OutputTest : public ::testing::Test {
protected:
    fs::path path(const char* name) const { return fs::path(dir_.path().toStdString()) / name; }
    QTemporaryDir dir_;
};

} // namespace

TEST_F(Mp3OutputTest, AFileGetsItsHeaderFrameAndAPipeGetsTheBytesAsTheyCame) {
    Encoded mp3;
    ASSERT_FALSE(mp3.stream.id3v2Tag().empty());

    Mp3Output file;
    ASSERT_TRUE(file.open(path("song.mp3"), mp3.stream)) << file.failure().reason;
    ASSERT_TRUE(file.write(mp3.audio));
    ASSERT_TRUE(file.close(mp3.stream)) << file.failure().reason;
    EXPECT_FALSE(fs::exists(path("song.mp3"))) << "in place before the commit";
    ASSERT_EQ(file.commit(), "");
    const fixtures::Mp3Facts written = fixtures::probeMp3(path("song.mp3"));
    EXPECT_TRUE(written.decoded) << written.error;
    EXPECT_EQ(written.headerLength, kRate) << "the header frame with the length is not in place";
    EXPECT_EQ(written.samples, kRate);

    // A pipe cannot be rewound: it gets the tag and every byte in order, and the close succeeds.
    ASSERT_EQ(mkfifo(path("pipe.mp3").c_str(), 0600), 0);
    std::vector<std::uint8_t> received;
    std::thread reader([&] { received = readAll(path("pipe.mp3")); });
    Mp3Output pipe;
    const bool opened = pipe.open(path("pipe.mp3"), mp3.stream);
    const bool closed = opened && pipe.write(mp3.audio) && pipe.close(mp3.stream);
    if (!opened)
        std::ofstream(path("pipe.mp3"), std::ios::binary).flush(); // lets the reader end
    reader.join();
    ASSERT_TRUE(closed) << pipe.failure().reason;
    EXPECT_TRUE(pipe.direct());
    std::vector<std::uint8_t> expected = mp3.stream.id3v2Tag();
    expected.insert(expected.end(), mp3.audio.begin(), mp3.audio.end());
    EXPECT_EQ(received, expected);
    EXPECT_EQ(pipe.commit(), "");
    EXPECT_TRUE(fs::is_fifo(path("pipe.mp3"))) << "a pipe is written through, never replaced";
}

TEST_F(Mp3OutputTest, FailuresNameTheirStepAndLeaveNothing) {
    Encoded mp3;
    Mp3Output missing;
    EXPECT_FALSE(missing.open(path("absent") / "song.mp3", mp3.stream));
    EXPECT_EQ(missing.failure().step, Mp3Output::Step::Create);
    EXPECT_NE(missing.failure().reason.find("absent"), std::string::npos)
        << missing.failure().reason;

    // A full disk shows when the buffered bytes reach it, at the latest on closing.
    fs::create_symlink("/dev/full", path("full.mp3"));
    Mp3Output full;
    ASSERT_TRUE(full.open(path("full.mp3"), mp3.stream));
    EXPECT_FALSE(full.write(mp3.audio) && full.close(mp3.stream));
    EXPECT_EQ(full.failure().step, Mp3Output::Step::Write);
    EXPECT_EQ(full.failure().reason, std::strerror(ENOSPC));
    EXPECT_TRUE(fs::is_symlink(path("full.mp3"))) << "a device is never removed";
    EXPECT_EQ(std::distance(fs::directory_iterator(path("")), {}), 1) << "a partial MP3 left";
}
