// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The sound writer on a stream: a real pipe, read on another thread, against the file that
// libsndfile writes on its own where it can seek. A WAV whose length is promised is the file,
// byte for byte; one without a promise differs in its two sizes only; a FLAC stream differs only
// in the STREAMINFO fields that are known at the end, and is no longer.
#include "components/output/SoundWriter.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <fstream>
#include <optional>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using quillory::output::OutputFile;
using quillory::renderer::Container;
using quillory::renderer::RenderError;
using quillory::renderer::SoundFormat;
using quillory::renderer::SoundWriter;

namespace {

std::uint32_t le32At(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | std::uint8_t(bytes[at + std::size_t(i)]);
    return value;
}

struct Song {
    SoundFormat format;
    std::size_t frames = 1000;
    std::optional<std::uint64_t> promised; // expectFrames
};

void writeSong(SoundWriter& writer, const Song& song) {
    writer.setTags({.title = "Stream", .copyright = "", .software = "Quillory"});
    if (song.promised)
        writer.expectFrames(*song.promised);
    std::vector<float> left(song.frames), right(song.frames);
    for (std::size_t i = 0; i < song.frames; ++i) {
        left[i] = 0.5f * float(std::sin(0.01 * double(i)));
        right[i] = 0.25f * float(std::cos(0.03 * double(i)));
    }
    writer.write(left.data(), right.data(), song.frames);
    writer.close();
}

class StreamSink : public ::testing::Test {
protected:
    // What the writer sends through a pipe.
    static std::string streamed(const Song& song) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        std::string out;
        std::thread reader([&] {
            char buffer[4096];
            for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
                out.append(buffer, std::size_t(n));
        });
        try {
            SoundWriter writer(OutputFile::stream(fds[1], "standard output"), song.format, 1 << 20);
            writeSong(writer, song);
        } catch (const RenderError& error) {
            ADD_FAILURE() << error.what();
        }
        ::close(fds[1]);
        reader.join();
        ::close(fds[0]);
        return out;
    }
    // What it writes to a file.
    std::string written(const Song& song) const {
        const fs::path file =
            fs::path(dir_.path().toStdString()) / ("song" + song.format.extension());
        SoundWriter writer(OutputFile(file), song.format, 1 << 20);
        writeSong(writer, song);
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    QTemporaryDir dir_;
};

} // namespace

TEST_F(StreamSink, APromisedWavIsTheFileByteForByte) {
    // Odd data sizes (8-bit and 24-bit mono of odd frames) end in a pad byte, which the RIFF
    // size counts.
    const std::vector<Song> songs = {
        {{.bitsPerSample = 16}, 1000, 1000},
        {{.bitsPerSample = 8, .channels = 1}, 1001, 1001},
        {{.bitsPerSample = 24, .channels = 1}, 999, 999},
        {{.bitsPerSample = 32}, 1000, 1000},
    };
    for (const Song& song : songs) {
        const std::string stream = streamed(song);
        EXPECT_EQ(stream, written(song)) << song.format.bitsPerSample << " bits";
        ASSERT_GT(stream.size(), 8u);
        EXPECT_EQ(le32At(stream, 4) + 8, stream.size());
    }
}

TEST_F(StreamSink, AnUnpromisedWavSaysUpToTheEndInItsTwoSizesOnly) {
    const Song song{{.bitsPerSample = 16}, 1000, std::nullopt};
    const std::string stream = streamed(song);
    const std::string file = written(song);
    ASSERT_EQ(stream.size(), file.size());
    const std::size_t data = file.size() - 4000 - 4; // the data chunk's size field
    EXPECT_EQ(le32At(stream, 4), 0xFFFFFFFFu);
    EXPECT_EQ(le32At(stream, data), 0xFFFFFFFFu);
    EXPECT_EQ(le32At(file, data), 4000u);
    for (std::size_t i = 0; i < file.size(); ++i)
        if ((i < 4 || i >= 8) && (i < data || i >= data + 4))
            ASSERT_EQ(stream[i], file[i]) << "byte " << i;
}

TEST_F(StreamSink, AFlacStreamLeavesItsLengthAndChecksumUnknownAndEndsWithItsLastFrame) {
    const Song song{{.bitsPerSample = 16, .container = Container::Flac}, 20000, std::nullopt};
    const std::string stream = streamed(song);
    const std::string file = written(song);
    ASSERT_EQ(stream.size(), file.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < file.size(); ++i)
        if (stream[i] != file[i]) {
            ++differing;
            EXPECT_TRUE(i >= 8 && i < 42) << "byte " << i << " outside STREAMINFO";
            EXPECT_EQ(stream[i], 0) << "byte " << i;
        }
    EXPECT_GT(differing, 16u) << "the MD5 signature at least";
}

TEST_F(StreamSink, AStreamThatBreaksItsPromiseOrLosesItsReaderFails) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread reader([&] {
        char buffer[4096];
        while (::read(fds[0], buffer, sizeof buffer) > 0) {
        }
    });
    {
        SoundWriter writer(OutputFile::stream(fds[1], "standard output"), SoundFormat{}, 1000);
        writer.expectFrames(500);
        const std::vector<float> samples(499);
        writer.write(samples.data(), samples.data(), samples.size());
        try {
            writer.close();
            ADD_FAILURE() << "a stream one frame short closed";
        } catch (const RenderError& error) {
            EXPECT_NE(std::string(error.what()).find("500 frames were promised, 499 written"),
                      std::string::npos)
                << error.what();
        }
    }
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);

    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    try {
        SoundWriter writer(OutputFile::stream(fds[1], "standard output"), SoundFormat{}, 1000);
        const std::vector<float> samples(1000);
        writer.write(samples.data(), samples.data(), samples.size());
        writer.close();
        ADD_FAILURE() << "a stream without a reader closed";
    } catch (const RenderError& error) {
        EXPECT_NE(std::string(error.what()).find("standard output failed (Broken pipe)"),
                  std::string::npos)
            << error.what();
    }
    std::signal(SIGPIPE, previous);
    ::close(fds[1]);
}
