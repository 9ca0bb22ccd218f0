// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The MIDI conversions evened out in loudness, measured on the written files: lossy files (MP3s,
// the window's too, Ogg Vorbis and Opus) decoded and measured by ffmpeg, an outside decoder and
// meter, the window's MP3s and the converter's compared byte for byte, and a full disk while the
// levelled song is encoded.
#include "components/conversion/Conversions.h"
#include "components/midi/MidiFile.h"
#include "components/midi/SongTags.h"
#include "components/renderer/RenderJob.h"
#include "components/synthesis/Synthesizer.h"
#include "tests/components/encoder/Mp3Probe.h"
#include "tests/components/renderer/Ffprobe.h"
#include "tests/components/renderer/LevelProbe.h"
#include "tests/components/renderer/RenderSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>

namespace fs = std::filesystem;
using namespace quillory::conversion;
using quillory::renderer::Container;
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

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// As the window makes an MP3: a 16-bit WAV rendered for the MP3's settings by a stoppable job, as
// the window's renderer makes it, then encoded as its encoding stage does; `mp3` is its target.
void windowMp3(const MidiFile& song, Synthesizer& synth, const encoder::Mp3Settings& settings,
               Levelling levelling, const fs::path& dir, const fs::path& mp3) {
    levelling.mp3Source = settings;
    levelling.tags = quillory::renderer::songTags(song);
    levelling.stoppable = true;
    quillory::renderer::RenderJob job(song, synth, dir / "source.wav", {44100, 16, 2}, levelling);
    while (job.render(quillory::renderer::RenderJob::kMaxBlockFrames) > 0) {
    }
    job.close();
    Facts facts;
    wavToMp3(dir / "source.wav", settings, mp3, {}, facts);
}

// The promise, judged by ffmpeg on the decoded file: -16 LUFS within 0.5 LU unless the true peak
// holds it down, and then within 0.5 dB of -1 dBTP; never above -1 dBTP.
void expectPromiseKept(const fs::path& file) {
    const ffprobe::Loudness decoded = ffprobe::loudness(file);
    ASSERT_TRUE(decoded.ran);
    EXPECT_LE(decoded.truePeakDbtp, -1.0);
    if (std::fabs(decoded.lufs + 16.0) > 0.5) {
        EXPECT_LT(decoded.lufs, -16.0);
        EXPECT_GE(decoded.truePeakDbtp, -1.5)
            << "at " << decoded.lufs << " LUFS, not held down by its peak";
    }
}

} // namespace

TEST(ConvertLevels, LossyFilesKeepTheLoudnessPromiseOnceDecodedAndTheReportSaysWhatTheyHold) {
    if (!ffprobe::available())
        GTEST_SKIP() << "ffmpeg is not installed";
    TempFolder dir;
    fs::create_directory(dir / "work");
    Synthesizer synth44(rendertest::kSoundFont, 44100);
    Synthesizer synth48(rendertest::kSoundFont, 48000);
    const struct {
        const char* name;
        midiwriter::Bytes midi;
    } songs[] = {
        {"dense tutti", rendertest::denseTutti()},
        // Held down by its peaks, where what the codec adds to them decides.
        {"sparse drum hits", rendertest::sparseDrumHits()},
        {"quiet piano line", rendertest::quietPianoLine()},
    };
    const struct {
        const char* name;
        Container container;
        int channels;
    } formats[] = {
        {"mp3", Container::Wav, 2},
        {"mono mp3", Container::Wav, 1},
        {"ogg", Container::Vorbis, 2},
        {"opus", Container::Opus, 2},
    };
    for (const auto& format : formats) {
        for (const auto& s : songs) {
            SCOPED_TRACE(std::string(format.name) + ", " + s.name);
            const fs::path out = dir / (std::string("even.") + format.name);
            Facts facts;
            if (format.container == Container::Wav) {
                encoder::Mp3Settings settings;
                settings.channelMode = format.channels == 1 ? 2 : 0;
                midiToMp3(song(s.midi), synth44, 44100, settings, levelledIn(dir / "work"), out, {},
                          facts);
            } else {
                quillory::renderer::SoundFormat sound{48000, 16, 2, format.container};
                midiToSound(song(s.midi), synth48, sound, levelledIn(dir / "work"), out, {}, facts);
            }
            expectPromiseKept(out);
            ASSERT_TRUE(facts.loudness && facts.gainDb);
            const ffprobe::Loudness decoded = ffprobe::loudness(out);
            EXPECT_NEAR(facts.loudness->integratedLufs, decoded.lufs, 0.1);
            EXPECT_NEAR(facts.loudness->truePeakDbtp, decoded.truePeakDbtp, 0.15);
            EXPECT_TRUE(isEmpty(dir / "work"));
        }
    }
}

TEST(ConvertLevels, TheWindowAndTheBatchMakeTheSameMp3ByteForByte) {
    TempFolder dir;
    fs::create_directory(dir / "work");
    struct Case {
        const char* name;
        midiwriter::Bytes midi;
        encoder::Mp3Settings settings;
        bool levelled = true;
    };
    const Case cases[] = {
        {"sparse drum hits, 128 kb/s", rendertest::sparseDrumHits(), {}},
        {"dense tutti, variable bit rate", rendertest::denseTutti(), {.vbrMode = 1}},
        {"quiet piano line, mono 64 kb/s", rendertest::quietPianoLine(), {0, 64, 2}},
        {"quiet piano line, fixed gain", rendertest::quietPianoLine(), {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Levelling levelling = c.levelled ? levelledIn(dir / "work") : Levelling{};
        // Each on a synthesiser of its own, as the window and the converter each have theirs.
        Synthesizer windowSynth(rendertest::kSoundFont, 44100);
        windowMp3(song(c.midi), windowSynth, c.settings, levelling, dir.path(), dir / "window.mp3");
        Synthesizer batchSynth(rendertest::kSoundFont, 44100);
        Facts facts;
        midiToMp3(song(c.midi), batchSynth, 44100, c.settings, levelling, dir / "batch.mp3", {},
                  facts);
        const std::string window = bytesOf(dir / "window.mp3");
        ASSERT_GT(window.size(), 1000u);
        EXPECT_TRUE(window == bytesOf(dir / "batch.mp3"));
        EXPECT_TRUE(isEmpty(dir / "work"));
    }
}

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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Facts facts;
        std::vector<int> percents;
        if (c.window)
            windowMp3(song(c.midi), synth, c.settings, levelledIn(dir / "work"), dir.path(),
                      dir / "even.mp3");
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
        expectPromiseKept(dir / "even.mp3");
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
        EXPECT_TRUE(c.window || percents.back() == 100);
        EXPECT_TRUE(isEmpty(dir / "work"));
    }
}

// A song far below the target is raised by 24 dB, no more, and its MP3 shows it once decoded.
TEST(ConvertLevels, NearSilenceAsMp3IsRaisedBy24DecibelsAtMost) {
    TempFolder dir;
    fs::create_directory(dir / "work");
    Synthesizer synth(rendertest::kSoundFont, 44100);
    Facts facts;
    midiToSound(song(rendertest::nearSilentSong()), synth, {44100, 16, 2}, {}, dir / "fixed.wav",
                {}, facts);
    midiToMp3(song(rendertest::nearSilentSong()), synth, 44100, {}, levelledIn(dir / "work"),
              dir / "even.mp3", {}, facts);
    const fixtures::Mp3Facts mp3 = fixtures::probeMp3(dir / "even.mp3", true);
    ASSERT_TRUE(mp3.decoded) << mp3.error;
    const levelprobe::Level even = levelprobe::measure(mp3.audio, mp3.channels, int(mp3.rate));
    const levelprobe::Level fixed = levelprobe::measureWav(dir / "fixed.wav");
    EXPECT_NEAR(20 * std::log10(even.samplePeak / fixed.samplePeak), 24.0, 1.0);
    EXPECT_LE(even.truePeakDbtp, -1.0);
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
    windowMp3(MidiFile::read(real), synth, {}, levelledIn(dir / "work"), dir.path(),
              dir / "even.mp3");
    expectPromiseKept(dir / "even.mp3");
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
