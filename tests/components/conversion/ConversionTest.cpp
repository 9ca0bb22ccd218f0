// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The conversions in-process: a streaming MIDI-to-MP3 conversion that is stopped half-way or
// runs into a full disk, and the names of the stems.
#include "components/conversion/Conversions.h"
#include "components/conversion/StemConversion.h"
#include "components/midi/MidiFile.h"
#include "components/synthesis/Synthesizer.h"
#include "tests/components/renderer/RenderSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace quillory::conversion;
using rendertest::TempFolder;

TEST(ConvertStreaming, StoppingMidSongEndsBothThreadsAndReportsIt) {
    TempFolder dir;
    midiwriter::save(dir / "long.mid", rendertest::steadySong(120));
    quillory::renderer::Synthesizer synth(rendertest::kSoundFont, 44100);
    std::vector<int> seen;
    Facts facts;
    const ProgressFn stopAtFive = [&](int percent) {
        seen.push_back(percent);
        return percent < 5;
    };
    try {
        midiToMp3(quillory::renderer::MidiFile::read(dir / "long.mid"), synth, 44100, {}, {},
                  dir / "part.mp3", stopAtFive, facts);
        FAIL() << "a stopped conversion must not end as a success";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "interrupted");
    }
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 5);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

    // The synth is free again and whole: the next song converts completely.
    midiwriter::save(dir / "short.mid", rendertest::chordSong());
    seen.clear();
    midiToMp3(
        quillory::renderer::MidiFile::read(dir / "short.mid"), synth, 44100, {}, {},
        dir / "short.mp3",
        [&](int percent) {
            seen.push_back(percent);
            return true;
        },
        facts);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100);
    EXPECT_GT(fs::file_size(dir / "short.mp3"), 1000u);
}

TEST(ConvertStreaming, AFullDiskIsAnErrorNotAShortMp3) {
    TempFolder dir;
    midiwriter::save(dir / "song.mid", rendertest::steadySong(40));
    quillory::renderer::Synthesizer synth(rendertest::kSoundFont, 44100);
    const rendertest::FileSizeLimit limit(100 * 1024); // 40 s at 128 kb/s is about 640 KiB
    Facts facts;
    try {
        midiToMp3(quillory::renderer::MidiFile::read(dir / "song.mid"), synth, 44100, {}, {},
                  dir / "song.mp3", {}, facts);
        FAIL() << "the write that did not fit went unnoticed";
    } catch (const ConversionError& error) {
        EXPECT_NE(std::string(error.what()).find("song.mp3"), std::string::npos) << error.what();
    }
}

TEST(ConvertStems, ANameTheFileSystemRefusesBecomesNumberAndChannel) {
    const quillory::renderer::StemChannel harp{.channel = 5, .programs = {46, 0}};
    const auto refusesParentheses = [](const std::string& name) {
        return name.find('(') == std::string::npos;
    };
    EXPECT_EQ(stemFileName(harp, ".flac", refusesParentheses), "06 Orchestral Harp.flac");
    const quillory::renderer::StemChannel guitar{.channel = 11, .programs = {24}};
    EXPECT_EQ(stemFileName(guitar, ".ogg", refusesParentheses), "12 Channel.ogg");
    EXPECT_EQ(stemFolderFor("out/song.take 2.flac"), fs::path("out/song.take 2.stems"));
}
