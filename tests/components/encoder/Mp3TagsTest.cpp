// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// ID3v2 tags on MP3s: made by LAME, written before the audio, with the Xing/LAME header frame
// after them. Read back by ffprobe and decoded by libmpg123, neither of which is ours; a WAV's
// INFO strings come along into the tag.
#include "components/encoder/Mp3Stream.h"
#include "components/encoder/WavSource.h"
#include "tests/components/encoder/Mp3Probe.h"
#include "tests/components/renderer/Ffprobe.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>

using namespace encoder;
using quillory::tags::TextTags;
namespace fs = std::filesystem;

namespace {

constexpr int kRate = 44100;
constexpr std::int64_t kFrames = kRate; // one second

std::vector<float> stereoTone(double amplitude) {
    std::vector<float> samples(2 * kFrames);
    for (std::int64_t i = 0; i < kFrames; ++i) {
        const double t = double(i) / kRate;
        samples[2 * i] = float(amplitude * std::sin(2 * std::numbers::pi * 440 * t));
        samples[2 * i + 1] = float(amplitude * std::sin(2 * std::numbers::pi * 660 * t));
    }
    return samples;
}

// Writes an MP3 the way the file encoder lays it out: tag, audio, and the header frame put back
// over the first audio frame, just after the tag. Returns the tag's size.
std::size_t writeMp3(const fs::path& path, const TextTags& tags, const Mp3Settings& settings,
                     const std::vector<float>& samples) {
    Mp3Stream stream;
    EXPECT_TRUE(stream.open(settings, kRate, 2, tags)) << stream.error();
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    const std::vector<std::uint8_t>& tag = stream.id3v2Tag();
    if (!tag.empty())
        std::fwrite(tag.data(), 1, tag.size(), file);
    for (std::int64_t at = 0; at < kFrames; at += 4096) {
        const std::size_t n = std::size_t(std::min<std::int64_t>(4096, kFrames - at));
        const auto bytes = stream.encode(&samples[std::size_t(2 * at)], n);
        std::fwrite(bytes->data(), 1, bytes->size(), file);
    }
    const auto tail = stream.flush();
    std::fwrite(tail->data(), 1, tail->size(), file);
    const std::vector<std::uint8_t> header = stream.header();
    std::fseek(file, long(tag.size()), SEEK_SET);
    std::fwrite(header.data(), 1, header.size(), file);
    std::fclose(file);
    return tag.size();
}

std::vector<std::uint8_t> contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The LAME tag's radio ReplayGain field in dB, read from the header frame at `offset`; NaN when
// the frame there has no LAME tag or the field is not a radio gain.
double radioReplayGain(const std::vector<std::uint8_t>& file, std::size_t offset) {
    const auto frameEnd = file.begin() + long(std::min(file.size(), offset + 2000));
    const char lame[] = "LAME";
    const auto at = std::search(file.begin() + long(offset), frameEnd, lame, lame + 4);
    if (at == frameEnd)
        return std::nan("");
    // Version string (9 bytes), revision and method, lowpass, peak (4): then the radio gain.
    const std::size_t field = std::size_t(at - file.begin()) + 9 + 1 + 1 + 4;
    const int value = (file[field] << 8) | file[field + 1];
    if ((value >> 13) != 1)
        return std::nan("");
    const double db = (value & 0x1FF) / 10.0;
    return (value & 0x200) ? -db : db;
}

class Mp3TagsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ffprobe::available())
            GTEST_SKIP() << "ffprobe (package ffmpeg) is not installed";
    }
    fs::path path(const char* name) const { return fs::path(dir_.path().toStdString()) / name; }
    QTemporaryDir dir_;
};

} // namespace

TEST_F(Mp3TagsTest, PlayersReadTheTitleCopyrightAndSoftwareAndTheExactLength) {
    struct Case {
        const char* name;
        std::string title; // as given
        std::string shown; // as a player shows it
        Mp3Settings settings;
    };
    const Case cases[] = {
        {"Latin-1 title", "Caf\xC3\xA9 M\xC3\xBCller", "Caf\xC3\xA9 M\xC3\xBCller", {}},
        {"title beyond Latin-1, variable bit rate",
         "\xCE\xA9\xCE\xB4\xCE\xAE \xE6\x97\xA5 \xF0\x9F\x8E\xB5",
         "\xCE\xA9\xCE\xB4\xCE\xAE \xE6\x97\xA5 \xF0\x9F\x8E\xB5",
         {.vbrMode = 1}},
        {"title with control characters", "Line one\nLine two\x07", "Line one Line two", {}},
    };
    const std::vector<float> samples = stereoTone(0.2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path mp3 = path("song.mp3");
        const TextTags tags{.title = c.title,
                            .copyright = "\xC2\xA9 2024 Someone",
                            .software = std::string(quillory::tags::kSoftware)};
        ASSERT_GT(writeMp3(mp3, tags, c.settings, samples), 0u);

        const ffprobe::Facts facts = ffprobe::probe(mp3);
        ASSERT_TRUE(facts.ran);
        EXPECT_EQ(facts.tag("title"), c.shown);
        EXPECT_EQ(facts.tag("copyright"), "\xC2\xA9 2024 Someone");
        EXPECT_EQ(facts.tag("encoder"), "Quillory 2.0");
        // The header frame was found after the tag: the length comes from its frame count, not
        // from an estimate by bit rate, and the encoder delay from its LAME tag.
        const double mp3Frames = facts.duration * kRate / 1152.0;
        EXPECT_NEAR(mp3Frames, std::round(mp3Frames), 0.001) << facts.duration;
        EXPECT_GT(facts.startTime, 0.0);
        EXPECT_TRUE(facts.warnings.empty()) << facts.warnings.front();

        const fixtures::Mp3Facts decoded = fixtures::probeMp3(mp3);
        EXPECT_TRUE(decoded.decoded) << decoded.error;
        EXPECT_EQ(decoded.samples, kFrames);
        EXPECT_EQ(decoded.headerLength, kFrames);
    }
}

TEST_F(Mp3TagsTest, TheHeaderFrameSitsRightAfterTheTagWithItsReplayGain) {
    const TextTags tags{.title = "Levels"};
    const std::size_t quietTag = writeMp3(path("quiet.mp3"), tags, {}, stereoTone(0.1));
    const std::size_t loudTag = writeMp3(path("loud.mp3"), tags, {}, stereoTone(0.2));
    const std::vector<std::uint8_t> quiet = contents(path("quiet.mp3"));
    const std::vector<std::uint8_t> loud = contents(path("loud.mp3"));

    // The tag announces its own size (syncsafe, after a 10-byte header).
    ASSERT_GT(quietTag, 10u);
    ASSERT_EQ(std::memcmp(quiet.data(), "ID3", 3), 0);
    const std::size_t announced =
        10 + ((quiet[6] << 21) | (quiet[7] << 14) | (quiet[8] << 7) | quiet[9]);
    EXPECT_EQ(announced, quietTag);
    // A frame header, and in it the Info frame of a constant bit rate with its LAME tag.
    ASSERT_EQ(quiet[quietTag], 0xFF);
    ASSERT_EQ(quiet[quietTag + 1] & 0xE0, 0xE0);
    const auto frame = quiet.begin() + long(quietTag);
    const char info[] = "Info";
    EXPECT_NE(std::search(frame, frame + 64, info, info + 4), frame + 64);

    // LAME measured the audio: twice the amplitude is 6 dB less gain to apply.
    const double quietGain = radioReplayGain(quiet, quietTag);
    const double loudGain = radioReplayGain(loud, loudTag);
    ASSERT_FALSE(std::isnan(quietGain));
    ASSERT_FALSE(std::isnan(loudGain));
    EXPECT_NEAR(quietGain - loudGain, 6.0, 0.3);
}

TEST_F(Mp3TagsTest, AWavsInfoTitleAndCopyrightAreCleanedAndCarriedIntoTheMp3) {
    const fs::path wav = path("user.wav");
    {
        SF_INFO info{};
        info.samplerate = kRate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(wav.string().c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        // Latin-1 bytes and a control character, as another program may have left them.
        sf_set_string(file, SF_STR_TITLE, "Sarabande\x01 en r\xE9");
        sf_set_string(file, SF_STR_COPYRIGHT, "\xA9 1720");
        const std::vector<float> samples = stereoTone(0.2);
        sf_writef_float(file, samples.data(), kFrames);
        sf_close(file);
    }
    std::string error;
    const auto source = WavSource::openFile(wav, error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->tags().title, "Sarabande en r\xC3\xA9");
    EXPECT_EQ(source->tags().copyright, "\xC2\xA9 1720");

    TextTags tags = source->tags();
    tags.software = quillory::tags::kSoftware;
    const fs::path mp3 = path("user.mp3");
    writeMp3(mp3, tags, {}, stereoTone(0.2));
    const ffprobe::Facts facts = ffprobe::probe(mp3);
    EXPECT_EQ(facts.tag("title"), "Sarabande en r\xC3\xA9");
    EXPECT_EQ(facts.tag("copyright"), "\xC2\xA9 1720");

    // Without tags nothing comes before the audio, as before.
    const fs::path bare = path("bare.mp3");
    EXPECT_EQ(writeMp3(bare, {}, {}, stereoTone(0.2)), 0u);
    const std::vector<std::uint8_t> bytes = contents(bare);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_TRUE(ffprobe::probe(bare).tags.empty());
}
