// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The batch converter's MIDI conversions evened out in loudness, measured on the written files:
// MP3s (the window's too, and a real song's) decoded by an independent decoder and measured with
// libebur128 directly, a full disk while the levelled song is encoded, and a work folder with no
// room, which converts at the fixed gain and says so.
#include "components/midi/MidiFile.h"
#include "components/renderer/RenderJob.h"
#include "components/synthesis/Synthesizer.h"
#include "tests/components/encoder/Mp3Probe.h"
#include "tests/components/renderer/LevelProbe.h"
#include "tests/components/renderer/RenderSupport.h"
#include "tools/convert/Conversions.h"
#include "tools/convert/Converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace fs = std::filesystem;
using namespace convert;
using quillory::renderer::LoudnessTarget;
using quillory::renderer::MidiFile;
using quillory::renderer::Synthesizer;
using rendertest::TempFolder;

namespace {

Levelling levelledIn(const fs::path& workFolder) {
    Levelling levelling;
    levelling.loudness = LoudnessTarget{};
    levelling.workFolder = workFolder;
    return levelling;
}

MidiFile song(const midiwriter::Bytes& bytes) {
    return MidiFile::parse(bytes, "song.mid");
}

bool isEmpty(const fs::path& folder) {
    return fs::directory_iterator(folder) == fs::directory_iterator();
}

// As the window makes an MP3: a 16-bit WAV rendered for the MP3's settings, then encoded. Gives
// what the renderer measured the song as.
quillory::renderer::Loudness windowMp3(const MidiFile& song, Synthesizer& synth,
                                       const encoder::Mp3Settings& settings, const fs::path& dir) {
    Levelling levelling = levelledIn(dir / "work");
    levelling.mp3Source = settings;
    quillory::renderer::RenderJob job(song, synth, dir / "source.wav", {44100, 16, 2}, levelling);
    while (job.render(quillory::renderer::RenderJob::kMaxBlockFrames) > 0) {
    }
    const quillory::renderer::Loudness measured = job.levelling()->measured();
    job.close();
    Facts facts;
    wavToMp3(dir / "source.wav", settings, dir / "even.mp3", {}, facts);
    return measured;
}

// -16 LUFS unless the peak holds it down (what LAME encodes stays at -2 dBTP) or near-silence is
// raised by the most there is, never above -1 dBTP, on the decoded MP3; held to 0.2 LU, so that
// LAME's own 0.45 dB would show.
void expectPromiseKept(const levelprobe::Level& song, const fs::path& file) {
    const fixtures::Mp3Facts mp3 = fixtures::probeMp3(file, true);
    ASSERT_TRUE(mp3.decoded) << mp3.error;
    const levelprobe::Level even = levelprobe::measure(mp3.audio, mp3.channels, int(mp3.rate));
    const double gain = std::min({-16.0 - song.lufs, -2.0 - song.truePeakDbtp, 24.0});
    if (gain == 24.0)
        EXPECT_NEAR(20 * std::log10(even.samplePeak / song.samplePeak), 24.0, 1.0);
    else
        EXPECT_NEAR(even.lufs, song.lufs + gain, 0.2);
    EXPECT_LE(even.truePeakDbtp, -1.0);
}

} // namespace

TEST(ConvertLevels, Mp3sFromTheBatchAndTheWindowKeepTheLoudnessPromiseOnceDecoded) {
    TempFolder dir;
    fs::create_directory(dir / "work");
    Synthesizer synth(rendertest::kSoundFont, 44100);
    struct Case {
        const char* name;
        midiwriter::Bytes midi;
        encoder::Mp3Settings settings;
        bool window = false;
    };
    const Case cases[] = {
        {"quiet piano line, mono, window", rendertest::quietPianoLine(), {.channelMode = 2}, true},
        {"dense tutti", rendertest::denseTutti(), {}},
        {"dense tutti, 192 kb/s joint, window", rendertest::denseTutti(), {192, 1}, true},
        {"sparse drum hits, variable bit rate", rendertest::sparseDrumHits(), {.vbrMode = 1}},
        {"near silence", rendertest::nearSilentSong(), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Facts facts;
        midiToSound(song(c.midi), synth, {44100, 16, 2}, {}, dir / "fixed.wav", {}, facts);
        std::vector<int> percents;
        if (c.window)
            windowMp3(song(c.midi), synth, c.settings, dir.path());
        else
            EXPECT_EQ(midiToMp3(
                          song(c.midi), synth, 44100, c.settings, levelledIn(dir / "work"),
                          dir / "even.mp3",
                          [&](int percent) {
                              percents.push_back(percent);
                              return true;
                          },
                          facts),
                      "");
        expectPromiseKept(levelprobe::measureWav(dir / "fixed.wav"), dir / "even.mp3");
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
        EXPECT_TRUE(c.window || percents.back() == 100);
        EXPECT_TRUE(isEmpty(dir / "work"));
    }
}

// Ten minutes of a real song (Debian's planetblupi-music-midi) made into an MP3 as the window does.
TEST(ConvertLevels, ARealSongAsMp3KeepsTheLoudnessPromiseOnceDecoded) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "ten minutes of music take minutes under the sanitizer";
#endif
    const fs::path real = "/usr/share/planetblupi/music/music004.mid";
    ASSERT_TRUE(fs::exists(real)) << "install planetblupi-music-midi";
    TempFolder dir;
    fs::create_directory(dir / "work");
    Synthesizer synth(rendertest::kSoundFont, 44100);
    const auto measured = windowMp3(MidiFile::read(real), synth, {}, dir.path());
    expectPromiseKept({measured.integratedLufs, measured.truePeakDbtp}, dir / "even.mp3");
}

TEST(ConvertLevels, AFullDiskWhileTheLevelledSongIsEncodedNamesTheMp3AndLeavesNothing) {
    TempFolder dir;
    fs::create_directory(dir / "work");
    fs::create_directory(dir / "out");
    Synthesizer synth(rendertest::kSoundFont, 44100);
    std::optional<rendertest::FileSizeLimit> fullDisk;
    Facts facts;
    try {
        // Once past the first pass, nothing more than 16 KiB can be written.
        midiToMp3(
            song(rendertest::denseTutti()), synth, 44100, {}, levelledIn(dir / "work"),
            dir / "out" / "song.mp3",
            [&](int percent) {
                if (percent > 76 && !fullDisk)
                    fullDisk.emplace(16 * 1024);
                return true;
            },
            facts);
        ADD_FAILURE() << "the write that did not fit went unnoticed";
    } catch (const ConversionError& error) {
        EXPECT_NE(std::string(error.what()).find((dir / "out" / "song.mp3").string()),
                  std::string::npos)
            << error.what();
    }
    ASSERT_TRUE(fullDisk) << "the encoding never began";
    fullDisk.reset();
    EXPECT_TRUE(isEmpty(dir / "out"));
    EXPECT_TRUE(isEmpty(dir / "work"));
}

TEST(ConvertLevels, WithoutRoomForTheWorkFileTheSongConvertsAtTheFixedGainWithAWarning) {
    TempFolder dir;
    midiwriter::save(dir / "piano.mid", rendertest::quietPianoLine());
    ConvertSettings settings;
    settings.soundFont = rendertest::kSoundFont;
    settings.workFolder = dir / "gone";
    Converter converter(settings, false);
    for (const char* name : {"piano.wav", "piano.mp3"}) {
        SCOPED_TRACE(name);
        const Job job{dir / "piano.mid", dir / name, InputType::Midi,
                      fs::path(name).extension() == ".wav" ? OutputType::Wav : OutputType::Mp3};
        const Outcome outcome = converter.convert(job, {});
        EXPECT_TRUE(outcome.ok);
        EXPECT_EQ(outcome.message.rfind("not evened out, converted at the fixed volume: ", 0), 0u)
            << outcome.message;
        EXPECT_NE(outcome.message.find((dir / "gone").string()), std::string::npos);
    }
    EXPECT_LT(levelprobe::measureWav(dir / "piano.wav").lufs, -30.0);
}
