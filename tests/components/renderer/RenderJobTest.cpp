// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The render engine end to end with a real SoundFont: the WAV's format and length, a bounded
// tail, event timing, the mono downmix, headroom, and failures that must leave no file behind.
#include "components/renderer/RenderJob.h"
#include "components/synthesis/SoundFontSearch.h"
#include "tests/components/renderer/RenderSupport.h"
#include "tests/components/renderer/WavProbe.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

using namespace quillory::renderer;
using rendertest::kSoundFont;
using rendertest::TempFolder;
namespace fs = std::filesystem;

namespace {

MidiFile song(const midiwriter::Bytes& bytes) {
    return MidiFile::parse(bytes, "test.mid");
}

void renderAll(RenderJob& job) {
    while (job.render(RenderJob::kMaxBlockFrames) > 0) {
    }
    job.close();
}

WavProbe renderToProbe(const MidiFile& midi, const SoundFormat& format,
                       const std::filesystem::path& out, const RenderOptions& options = {}) {
    Synthesizer synth(kSoundFont, format.sampleRate);
    RenderJob job(midi, synth, out, format, options);
    renderAll(job);
    return WavProbe::read(out);
}

std::string renderError(const MidiFile& midi, const SoundFormat& format,
                        const std::filesystem::path& out) {
    try {
        Synthesizer synth(kSoundFont);
        RenderJob job(midi, synth, out, format);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(accepted)";
}

} // namespace

TEST(RenderJob, WritesTheRequestedFormatForTheSongPlusABoundedTail) {
    const SoundFormat formats[] = {{8000, 8, 1}, {11025, 8, 2}, {22050, 16, 1}, {96000, 16, 2}};
    TempFolder dir;
    const MidiFile midi = song(rendertest::chordSong());
    ASSERT_DOUBLE_EQ(midi.lengthMs(), 1000.0);
    for (const SoundFormat& format : formats) {
        SCOPED_TRACE(std::to_string(format.sampleRate) + " Hz " +
                     std::to_string(format.bitsPerSample) + " bits " +
                     std::to_string(format.channels) + " channels");
        const WavProbe wav = renderToProbe(midi, format, dir / "out.wav");
        ASSERT_TRUE(wav.valid);
        EXPECT_EQ(wav.formatTag, 1);
        EXPECT_EQ(wav.sampleRate, format.sampleRate);
        EXPECT_EQ(wav.bits, format.bitsPerSample);
        EXPECT_EQ(wav.channels, format.channels);
        const std::size_t songFrames = std::size_t(format.sampleRate); // one second
        EXPECT_GE(wav.frames(), songFrames);
        EXPECT_LE(wav.frames(), songFrames + 3 * std::size_t(format.sampleRate));
        // The quarter second before the first note is digital silence: 0x80 in unsigned 8-bit.
        const std::size_t leadIn = wav.channels * std::size_t(format.sampleRate) / 4;
        for (std::size_t i = 0; i < leadIn; ++i)
            ASSERT_EQ(format.bitsPerSample == 8 ? wav.data[i] : wav.sample(i),
                      format.bitsPerSample == 8 ? 0x80 : 0)
                << "sample " << i;
        EXPECT_GT(wav.peak(), format.bitsPerSample == 8 ? 8 : 2000);
    }
}

// Frames at the end of a 16-bit WAV below -90 dBFS (1.04 steps), which TPDF dither may round to
// two steps.
std::size_t quietEnd(const WavProbe& wav) {
    std::size_t quiet = 0;
    while (quiet < wav.frames() && std::abs(wav.sample(wav.frames() - 1 - quiet)) <= 2)
        ++quiet;
    return quiet;
}

int peakIn(const WavProbe& wav, std::size_t first, std::size_t end) {
    int peak = 0;
    for (std::size_t i = first; i < end; ++i)
        peak = std::max(peak, std::abs(wav.sample(i)));
    return peak;
}

TEST(RenderJob, TailRingsOnUntilItHasDiedAwayButNeverPastFifteenSeconds) {
    TempFolder dir;
    const SoundFormat format{8000, 16, 1};
    // A note that is never released: faded out over the last 50 ms of exactly fifteen seconds.
    const MidiFile held = song(midiwriter::file(
        0, 96, {midiwriter::Track().program(0, 0, 19).noteOn(0, 0, 60).endOfTrack(96)}));
    const WavProbe heldWav = renderToProbe(held, format, dir / "held.wav");
    const std::size_t end = heldWav.frames();
    ASSERT_EQ(end, 4000u + 15 * 8000u);
    EXPECT_GT(peakIn(heldWav, end - 800, end - 400), 400);
    EXPECT_LT(peakIn(heldWav, end - 20, end), peakIn(heldWav, end - 800, end - 400) / 10);
    // A harp plucked at the very end rings through its release and reverb, and ends 100 ms after
    // it has died away below -90 dBFS, as heard: at the fixed gain, and raised by levelling.
    const MidiFile plucked = song(midiwriter::file(
        0, 96,
        {midiwriter::Track().program(0, 0, 46).noteOn(0, 0, 72).noteOff(10, 0, 72).endOfTrack()}));
    const std::size_t songFrames = plucked.frameAt(plucked.endTime(), 8000);
    RenderOptions levelled;
    levelled.loudness = LoudnessTarget{};
    levelled.workFolder = dir.path();
    for (const RenderOptions& options : {RenderOptions{}, levelled}) {
        SCOPED_TRACE(options.loudness ? "levelled" : "fixed gain");
        const WavProbe wav = renderToProbe(plucked, format, dir / "plucked.wav", options);
        EXPECT_GT(wav.frames(), songFrames + 8000u);
        EXPECT_LT(wav.frames(), songFrames + 15 * 8000u);
        // Dither blurs the last step: the end is judged exactly on the float blocks elsewhere.
        EXPECT_GE(quietEnd(wav), 800u);
        EXPECT_LE(quietEnd(wav), 800u + 64u + 2400u);
    }
    // The last seconds of real songs end the same way, whatever their instruments leave ringing.
    if (!fs::exists(rendertest::kRealSongs))
        GTEST_SKIP() << "planetblupi-music-midi is not installed";
    // Their reverb fades slowly through the last steps, which dither blurs: up to 3/4 s below
    // two steps.
    for (const char* name : {"music000.mid", "music002.mid", "music005.mid", "music008.mid"}) {
        SCOPED_TRACE(name);
        const MidiFile ending =
            song(rendertest::lastSecondsOf(MidiFile::read(rendertest::kRealSongs / name), 6.0));
        const WavProbe wav = renderToProbe(ending, format, dir / "ending.wav", levelled);
        EXPECT_GE(wav.frames(), ending.frameAt(ending.endTime(), 8000));
        EXPECT_GE(quietEnd(wav), 800u);
        EXPECT_LE(quietEnd(wav), 6000u);
    }
}

TEST(RenderJob, NotesStartOnTheirFrameThroughTheTempoMap) {
    TempFolder dir;
    // 480 ticks at 0.25 s per quarter, then 240 at 0.5: the note starts at exactly 0.5 s.
    midiwriter::Track track;
    track.tempo(0, 250000)
        .tempo(480, 500000)
        .noteOn(240, 0, 60, 127)
        .noteOff(480, 0, 60)
        .endOfTrack();
    const WavProbe wav =
        renderToProbe(song(midiwriter::file(0, 480, {track})), {8000, 16, 1}, dir / "t.wav");
    std::size_t onset = 0;
    while (onset < wav.samples() && wav.sample(onset) == 0)
        ++onset;
    // FluidSynth starts notes on its 64-frame grid; a few more frames let the attack rise.
    EXPECT_GE(onset, 4000u);
    EXPECT_LE(onset, 4000u + 64 + 16);
}

TEST(RenderJob, MonoIsTheAverageOfTheStereoChannels) {
    TempFolder dir;
    midiwriter::Track track;
    track.controller(0, 0, 10, 0).controller(0, 1, 10, 127).program(0, 1, 40);
    track.noteOn(0, 0, 60, 120)
        .noteOn(0, 1, 67, 60)
        .noteOff(96, 0, 60)
        .noteOff(0, 1, 67)
        .endOfTrack(48);
    const MidiFile midi = song(midiwriter::file(0, 96, {track}));
    const WavProbe stereo = renderToProbe(midi, {22050, 16, 2}, dir / "stereo.wav");
    const WavProbe mono = renderToProbe(midi, {22050, 16, 1}, dir / "mono.wav");
    ASSERT_EQ(stereo.frames(), mono.frames());
    int leftPeak = 0, rightPeak = 0, worst = 0;
    for (std::size_t i = 0; i < mono.frames(); ++i) {
        const int left = stereo.sample(2 * i), right = stereo.sample(2 * i + 1);
        leftPeak = std::max(leftPeak, std::abs(left));
        rightPeak = std::max(rightPeak, std::abs(right));
        worst = std::max(worst, std::abs(2 * mono.sample(i) - (left + right)));
    }
    EXPECT_GT(leftPeak, 2 * rightPeak)
        << "the channels should differ for the test to mean anything";
    // Each of the three channels carries its own dither, less than 1.5 steps from the exact value.
    EXPECT_LE(worst, 5);
}

TEST(RenderJob, AFullGeneralMidiArrangementStaysClearOfClipping) {
    TempFolder dir;
    std::vector<midiwriter::Track> tracks;
    static const int programs[] = {0, 4, 24, 32, 40, 48, 56, 61, 65, 0, 73, 80, 88, 11, 19, 26};
    for (int ch = 0; ch < 16; ++ch) {
        midiwriter::Track track;
        track.program(0, ch, programs[ch]).controller(0, ch, 7, 110);
        const int root = ch == 9 ? 36 : 48 + 12 * (ch % 3);
        for (int bar = 0; bar < 4; ++bar) {
            track.noteOn(0, ch, root, 115)
                .noteOn(0, ch, root + 4, 115)
                .noteOn(0, ch, root + 7, 115);
            track.noteOff(48, ch, root).noteOff(0, ch, root + 4).noteOff(0, ch, root + 7);
        }
        tracks.push_back(track.endOfTrack());
    }
    const WavProbe wav =
        renderToProbe(song(midiwriter::file(1, 96, tracks)), {22050, 16, 2}, dir / "full.wav");
    EXPECT_GT(wav.peak(), 3000);
    EXPECT_LT(wav.peak(), 32767 * 9 / 10);
}

TEST(RenderJob, RefusesWhatItCannotWriteBeforeCreatingAnything) {
    TempFolder dir;
    const MidiFile midi = song(rendertest::chordSong());
    const std::filesystem::path out = dir / "out.wav";
    struct Case {
        SoundFormat format;
        const char* expected;
    } cases[] = {{{7999, 16, 2}, "7999 Hz is not supported"},
                 {{96001, 16, 2}, "96001 Hz"},
                 {{44100, 12, 2}, "12 bits per sample are not supported"},
                 {{44100, 16, 0}, "0 channels"},
                 {{44100, 16, 6}, "6 channels are not supported"}};
    for (const Case& c : cases) {
        const std::string error = renderError(midi, c.format, out);
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    const std::filesystem::path missingFolder = dir / "missing" / "out.wav";
    EXPECT_NE(renderError(midi, {}, missingFolder).find("cannot create " + missingFolder.string()),
              std::string::npos);
    EXPECT_NE(renderError(midi, {}, "/proc/quillory.wav").find("cannot create /proc/quillory.wav"),
              std::string::npos);
    if (geteuid() != 0) {
        std::filesystem::create_directory(dir / "locked");
        std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_exec);
        EXPECT_NE(renderError(midi, {}, dir / "locked" / "out.wav").find("cannot create"),
                  std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(dir / "locked" / "out.wav"));
        std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_all);
    }
}

TEST(RenderJob, AWriteThatFailsHalfWayThrowsAndLeavesTheFileItWasToReplace) {
    TempFolder dir;
    const std::filesystem::path out = dir / "full-disk.wav";
    midiwriter::save(out, {'o', 'l', 'd'});
    Synthesizer synth(kSoundFont, 22050);
    RenderJob job(song(rendertest::steadySong(10)), synth, out, {22050, 16, 2});
    std::string error;
    try {
        const rendertest::FileSizeLimit fullDisk(64 * 1024);
        renderAll(job);
    } catch (const RenderError& e) {
        error = e.what();
    }
    EXPECT_NE(error.find("writing " + out.string() + " failed"), std::string::npos) << error;
    job.discard();
    EXPECT_EQ(std::filesystem::file_size(out), 3u) << "the old file is still whole";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "the partial WAV beside it is gone";
}

TEST(Synthesizer, RefusesMissingAndCorruptSoundFonts) {
    TempFolder dir;
    const auto errorFor = [](const std::filesystem::path& path) -> std::string {
        try {
            Synthesizer synth(path);
        } catch (const SynthError& e) {
            return e.what();
        }
        return "(accepted)";
    };
    EXPECT_NE(errorFor(dir / "none.sf2")
                  .find("SoundFont " + (dir / "none.sf2").string() + " does not exist"),
              std::string::npos);
    midiwriter::save(dir / "text.sf2", {'n', 'o', 't', ' ', 'a', ' ', 's', 'f', '2'});
    EXPECT_NE(errorFor(dir / "text.sf2").find("cannot be loaded"), std::string::npos)
        << errorFor(dir / "text.sf2");
    midiwriter::save(dir / "empty.sf2", {});
    EXPECT_NE(errorFor(dir / "empty.sf2").find("cannot be loaded"), std::string::npos);
    EXPECT_NE(errorFor(dir.path()).find("is not a file"), std::string::npos);
}

TEST(Synthesizer, KeepsItsSoundFontWhenTheFileGoes) {
    TempFolder dir;
    const std::filesystem::path copy = dir / "copy.sf2";
    std::filesystem::copy_file(kSoundFont, copy);
    Synthesizer synth(copy, 11025);
    std::filesystem::remove(copy);
    RenderJob job(song(rendertest::chordSong()), synth, dir / "out.wav", {11025, 16, 1});
    renderAll(job);
    EXPECT_GT(WavProbe::read(dir / "out.wav").peak(), 2000);
}

TEST(SoundFontSearch, ProgramFolderThenSystemDefaultThenAnyOther) {
    TempFolder program, system;
    const auto touch = [](const std::filesystem::path& p) { midiwriter::save(p, {0}); };
    EXPECT_EQ(findSoundFont(program.path(), system.path()), std::filesystem::path());
    touch(system / "aaa.sf2");
    touch(system / "readme.txt");
    EXPECT_EQ(findSoundFont(program.path(), system.path()), system / "aaa.sf2");
    std::filesystem::create_symlink(system / "gone.sf2", system / "default-GM.sf2");
    EXPECT_EQ(findSoundFont(program.path(), system.path()), system / "aaa.sf2");
    std::filesystem::remove(system / "default-GM.sf2");
    std::filesystem::create_symlink(system / "aaa.sf2", system / "default-GM.sf2");
    touch(system / "zzz.sf3");
    EXPECT_EQ(findSoundFont(program.path(), system.path()), system / "default-GM.sf2");
    touch(program / "b.sf2");
    touch(program / "A.SF3");
    touch(program / "quillory");
    EXPECT_EQ(findSoundFont(program.path(), system.path()), program / "A.SF3");
}

TEST(SoundWriter, ARenderThatMightPassFourGigabytesIsWrittenAsRf64AndShrinksBackToWav) {
    TempFolder dir;
    std::vector<float> left(100, 0.25f), right(100, -2.0f);
    SoundWriter large(dir / "large.wav", {8000, 16, 2}, 1ull << 31);
    EXPECT_TRUE(large.rf64());
    large.write(left.data(), right.data(), left.size());
    large.close();
    const WavProbe wav = WavProbe::read(dir / "large.wav");
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.frames(), 100u);
    EXPECT_NEAR(wav.sample(0), 8192, 1) << "within the dither of the exact value";
    EXPECT_EQ(wav.sample(1), -32768) << "out-of-range samples are clipped, not wrapped";
    EXPECT_EQ(large.clipped(), 100u);
    EXPECT_FALSE(SoundWriter(dir / "small.wav", {96000, 16, 2}, 12ull * 3600 * 8000).rf64());
}

// A WAV is written through a descriptor opened on the file claimed beside the target; a target
// that is a device is opened and written in place, and stays the device it was.
TEST(SoundWriter, ADeviceTargetIsWrittenInPlaceAndAFileReplacedWhole) {
    TempFolder dir;
    std::vector<float> left(4410, 0.5f), right(4410, 0.5f);
    fs::create_symlink("/dev/null", dir / "null.wav");
    SoundWriter device(dir / "null.wav", {44100, 16, 2}, left.size());
    device.write(left.data(), right.data(), left.size());
    EXPECT_NO_THROW(device.close());
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // A longer file at the target is replaced by the new one, not overwritten from its start.
    std::FILE* old = std::fopen((dir / "song.wav").c_str(), "wb");
    const std::vector<char> junk(1 << 20, 'x');
    std::fwrite(junk.data(), 1, junk.size(), old);
    std::fclose(old);
    SoundWriter song(dir / "song.wav", {44100, 16, 2}, left.size());
    song.write(left.data(), right.data(), left.size());
    song.close();
    const WavProbe wav = WavProbe::read(dir / "song.wav");
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.frames(), left.size());
    EXPECT_LT(fs::file_size(dir / "song.wav"), 4 * left.size() + 1024) << "nothing of the old file";
}

TEST(SongRenderer, TheCallersBlockSizeDoesNotChangeTheAudio) {
    // The left and right channels one after the other.
    const auto renderInBlocks = [](std::size_t block) {
        Synthesizer synth(kSoundFont, 8000);
        SongRenderer renderer(song(rendertest::chordSong()), synth, 8000);
        std::vector<float> left(block), right(block), allLeft, allRight;
        while (const std::size_t n = renderer.render(left.data(), right.data(), block)) {
            EXPECT_EQ(renderer.percent() == 100, renderer.finished());
            allLeft.insert(allLeft.end(), left.begin(), left.begin() + long(n));
            allRight.insert(allRight.end(), right.begin(), right.begin() + long(n));
        }
        EXPECT_EQ(renderer.percent(), 100);
        return std::make_pair(allLeft, allRight);
    };
    auto [largeLeft, largeRight] = renderInBlocks(4096);
    auto [smallLeft, smallRight] = renderInBlocks(37);
    ASSERT_GE(largeLeft.size(), 8000u);
    // The tail is judged silent in steps that depend on the block; the audio itself does not.
    const std::size_t common = std::min(largeLeft.size(), smallLeft.size());
    EXPECT_LE(std::max(largeLeft.size(), smallLeft.size()) - common, 64u);
    largeLeft.resize(common), largeRight.resize(common), smallLeft.resize(common),
        smallRight.resize(common);
    EXPECT_EQ(largeLeft, smallLeft);
    EXPECT_EQ(largeRight, smallRight);
}
