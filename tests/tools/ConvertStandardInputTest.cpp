// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Standard input as an input, through a real pipe: what its first bytes say it holds, the MIDI
// file read whole within the size a MIDI file may have, the WAV copied as it came, and a wait
// for more that a stop ends.
#include "tools/convert/StandardStreams.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace convert;

namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A pipe whose writing end a thread fills with `bytes` and then closes, unless told to keep it
// open; the reading end is for the test.
class Pipe {
public:
    explicit Pipe(std::string bytes, bool keepOpen = false) {
        // A reader that stops early makes the writer fail, not the test end.
        std::signal(SIGPIPE, SIG_IGN);
        EXPECT_EQ(::pipe(fds_), 0);
        writer_ = std::thread([this, bytes = std::move(bytes), keepOpen] {
            for (std::size_t done = 0; done < bytes.size();) {
                const ssize_t n = ::write(fds_[1], bytes.data() + done, bytes.size() - done);
                if (n <= 0)
                    break;
                done += std::size_t(n);
            }
            if (!keepOpen)
                closeWriting();
        });
    }
    ~Pipe() {
        ::close(fds_[0]);
        writer_.join();
        closeWriting();
    }
    int reading() const { return fds_[0]; }
    void closeWriting() {
        if (fds_[1] >= 0)
            ::close(std::exchange(fds_[1], -1));
    }

private:
    int fds_[2] = {-1, -1};
    std::thread writer_;
};

// A format 0 song of one note.
std::string oneNote() {
    const std::string track("\x00\x90\x3c\x64\x60\x80\x3c\x00\x00\xff\x2f\x00", 12);
    return std::string("MThd\0\0\0\x06\0\0\0\x01\0\x60", 14) + "MTrk" +
           std::string("\0\0\0\x0c", 4) + track;
}

} // namespace

TEST(ConvertStandardInput, ItsFirstBytesSayMidiOrWavAndNothingElse) {
    using namespace std::string_literals;
    const std::vector<std::pair<std::string, std::optional<InputType>>> table = {
        {"MThd\0\0\0\x06"s, InputType::Midi},
        {"RIFF\x10\0\0\0RMIDdata"s, InputType::Midi},
        {"RIFF\x10\0\0\0WAVEfmt "s, InputType::Wav},
        {"RF64\xff\xff\xff\xffWAVEds64"s, InputType::Wav},
        {"RIFF\x10\0\0\0AVI LIST"s, std::nullopt},
        {"RIFF\x10\0\0"s, std::nullopt},
        {"fLaC\0\0\0\x22"s, std::nullopt},
        {"OggS\0\x02\0\0"s, std::nullopt},
        {"ID3\x04\0\0\0\0"s, std::nullopt},
        {""s, std::nullopt},
    };
    for (const auto& [head, type] : table)
        EXPECT_EQ(contentType(bytesOf(head)), type) << head;
}

TEST(ConvertStandardInput, AMidiFileIsReadWholeAndOneTooLargeIsRefused) {
    Pipe song(oneNote());
    StandardInput input(song.reading());
    ASSERT_EQ(input.error(), "");
    EXPECT_EQ(input.type(), InputType::Midi);
    const quillory::renderer::MidiFile midi = input.midi({});
    EXPECT_EQ(midi.trackCount(), 1);
    EXPECT_GT(midi.lengthMs(), 0u);

    // As large as a MIDI file may be, and one byte more.
    std::string big = oneNote();
    big.resize(quillory::renderer::MidiFile::kMaxFileBytes + 1, '\0');
    Pipe tooLarge(big);
    StandardInput large(tooLarge.reading());
    try {
        large.midi({});
        ADD_FAILURE() << "a MIDI file over 64 MiB was read";
    } catch (const quillory::renderer::MidiError& error) {
        EXPECT_NE(std::string(error.what()).find("too large to be a MIDI file"), std::string::npos)
            << error.what();
    }
}

TEST(ConvertStandardInput, AWavIsCopiedAsItCame) {
    std::string wav = std::string("RIFF\xff\xff\xff\xffWAVE", 12);
    for (int i = 0; i < 3000000; ++i)
        wav += char(i * 7);
    Pipe pipe(wav);
    StandardInput input(pipe.reading());
    ASSERT_EQ(input.type(), InputType::Wav);
    QTemporaryDir dir;
    const fs::path copy = fs::path(dir.path().toStdString()) / "copy.wav";
    input.copyWav(copy, {});
    std::ifstream in(copy, std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == wav);
}

TEST(ConvertStandardInput, EmptyOrForeignInputIsRefusedAndAStopEndsTheWait) {
    Pipe empty("");
    EXPECT_NE(StandardInput(empty.reading()).error().find("empty"), std::string::npos);
    Pipe flac(std::string("fLaC\0\0\0\x22", 8));
    EXPECT_NE(StandardInput(flac.reading()).error().find("begins with \"fLaC\""),
              std::string::npos);

    // A writer that sends the first bytes and then nothing: the wait ends when progress says so.
    Pipe stalled(oneNote().substr(0, 20), true);
    StandardInput input(stalled.reading());
    int asked = 0;
    EXPECT_THROW(input.midi([&](int) { return ++asked < 3; }), Interrupted);
    EXPECT_EQ(asked, 3);
    stalled.closeWriting();
}
