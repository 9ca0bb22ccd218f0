// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// One song on several synthesisers: the sum against one synthesiser, hostile songs, stopping
// half-way, the work each note is expected to cost, how notes are shared out, and the budget of
// threads.
#include "components/renderer/RenderJob.h"
#include "components/synthesis/NotePlan.h"
#include "components/synthesis/ParallelSongRenderer.h"
#include "components/synthesis/SongRenderer.h"
#include "components/synthesis/ThreadBudget.h"
#include "components/synthesis/UsableCores.h"
#include "tests/components/renderer/RenderSupport.h"
#include "tests/components/renderer/WavProbe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>
#include <tuple>

using namespace quillory::renderer;
using rendertest::kSoundFont;

namespace {

constexpr int kRate = 22050;

struct Audio {
    std::vector<float> samples; // interleaved stereo
    std::size_t frames() const { return samples.size() / 2; }
};

template <typename Source>
Audio renderAll(Source& source, std::size_t block) {
    Audio audio;
    std::vector<float> left(block), right(block);
    while (const std::size_t n = source.render(left.data(), right.data(), block)) {
        for (std::size_t i = 0; i < n; ++i) {
            audio.samples.push_back(left[i]);
            audio.samples.push_back(right[i]);
        }
    }
    return audio;
}

Audio renderOnOneSynth(const MidiFile& song) {
    Synthesizer synth(kSoundFont, kRate);
    SongRenderer renderer(song, synth, kRate);
    return renderAll(renderer, 1024);
}

// RMS of the difference, in dB below full scale, over the frames both have.
double residualDb(const Audio& a, const Audio& b) {
    const std::size_t n = std::min(a.samples.size(), b.samples.size());
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = double(a.samples[i]) - double(b.samples[i]);
        sum += d * d;
    }
    return 10 * std::log10(sum / double(std::max<std::size_t>(n, 1)) + 1e-30);
}

double levelDb(const Audio& a) {
    return residualDb(a, Audio{std::vector<float>(a.samples.size(), 0.0f)});
}

MidiFile parse(const midiwriter::Bytes& bytes) {
    return MidiFile::parse(bytes, "test.mid");
}

// All sixteen channels, the drums among them, with a General MIDI reset and master volume, pitch
// bends, expression, pans and both effect sends. FluidSynth starts a new voice's pan and effect
// gains from where the previous voice in the same slot left them, so a voice reusing a slot
// sounds a little different in its first 64 frames depending on which voices share its synth.
// Here every melodic voice is held to the end and the drums, whose voices end by themselves,
// play last: no slot is reused across channels, and one synth and several must agree to float
// rounding.
midiwriter::Bytes everyChannelSong() {
    static const int programs[] = {48, 19, 52, 89, 16, 49, 91, 80, 42, 0, 40, 68, 73, 50, 94, 81};
    midiwriter::Track conductor;
    conductor.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});             // General MIDI on
    conductor.sysex(0, {0x7F, 0x7F, 0x04, 0x01, 0x00, 0x70, 0xF7}); // master volume
    conductor.tempo(0, 500000).tempo(960, 375000).endOfTrack(1800);
    std::vector<midiwriter::Track> tracks{conductor};
    for (int ch = 0; ch < 16; ++ch) {
        midiwriter::Track track;
        track.program(0, ch, programs[ch]);
        track.controller(0, ch, 10, (ch * 41) % 128);
        track.controller(0, ch, 91, 10 + ch * 7);
        track.controller(0, ch, 93, 120 - ch * 7);
        if (ch == 9) {
            // Kick, snare and hats once every melodic note sounds.
            track.noteOn(1800, 9, 36, 110);
            for (int hit = 0; hit < 12; ++hit) {
                track.noteOff(60, 9, hit % 3 == 0 ? 36 : hit % 3 == 1 ? 38 : 42);
                track.noteOn(0, 9, (hit + 1) % 3 == 0 ? 36 : (hit + 1) % 3 == 1 ? 38 : 42, 100);
            }
            track.noteOff(60, 9, 36).endOfTrack(600);
        } else {
            const int root = 36 + (ch * 5) % 36;
            track.noteOn(std::uint32_t(ch * 37), ch, root, 90).noteOn(0, ch, root + 7, 80);
            for (int step = 0; step < 16; ++step) {
                track.channel(60, std::uint8_t(0xE0 | ch), 0, std::uint8_t(64 + (step % 5) * 12));
                track.controller(30, ch, 11, 70 + (step * 13) % 57);
            }
            track.noteOff(std::uint32_t(2700 - ch * 37 - 16 * 90), ch, root)
                .noteOff(0, ch, root + 7)
                .endOfTrack(0);
        }
        tracks.push_back(track);
    }
    return midiwriter::file(1, 480, tracks);
}

} // namespace

TEST(ParallelSongRenderer, SumsToWhatOneSynthesizerRendersOnEveryChannel) {
    const MidiFile song = parse(everyChannelSong());
    const Audio reference = renderOnOneSynth(song);
    ASSERT_GT(levelDb(reference), -40.0);
    for (const unsigned threads : {2u, 3u, 5u}) {
        for (const std::size_t block : {std::size_t(1024), std::size_t(333)}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, blocks of " + std::to_string(block));
            ThreadBudget budget(threads);
            Synthesizer synth(kSoundFont, kRate);
            ParallelSongRenderer renderer(song, synth, kRate, budget, 0, SplitPolicy::Always);
            const Audio audio = renderAll(renderer, block);
            EXPECT_EQ(renderer.instances(), int(threads));
            EXPECT_TRUE(renderer.sharesEffects()); // one reverb and chorus, as one synth has
            EXPECT_TRUE(renderer.finished());
            EXPECT_EQ(renderer.percent(), 100);
            EXPECT_EQ(audio.frames(), reference.frames());
            EXPECT_LE(residualDb(audio, reference), -90.0);
        }
    }
    // One thread is one synthesiser: exactly the single render.
    ThreadBudget one(1);
    Synthesizer synth(kSoundFont, kRate);
    ParallelSongRenderer renderer(song, synth, kRate, one);
    EXPECT_EQ(renderAll(renderer, 1024).samples, reference.samples);
    EXPECT_EQ(renderer.instances(), 1);
}

namespace {

std::uint8_t gsChecksum(std::initializer_list<std::uint8_t> addressAndData) {
    int sum = 0;
    for (const std::uint8_t b : addressAndData)
        sum += b;
    return std::uint8_t((0x80 - (sum & 0x7F)) & 0x7F);
}

// A GS "use for rhythm part" message: part 0x10 is channel 10, parts 0x11 to 0x19 channels 1 to 9.
midiwriter::Bytes partMode(int part, int mode) {
    const std::uint8_t address = std::uint8_t(0x10 | part);
    return {0x41,
            0x7F,
            0x42,
            0x12,
            0x40,
            address,
            0x15,
            std::uint8_t(mode),
            gsChecksum({0x40, address, 0x15, std::uint8_t(mode)}),
            0xF7};
}

// Channel 10 made melodic and channel 4 a drum kit by SysEx, then played like the song above:
// held notes first, drum hits last.
midiwriter::Bytes drumPartSwitchSong(bool withSwitch) {
    midiwriter::Track conductor;
    if (withSwitch)
        conductor.sysex(0, partMode(0, 0)).sysex(0, partMode(4, 1));
    conductor.endOfTrack(2400);
    std::vector<midiwriter::Track> tracks{conductor};
    for (const int ch : {0, 1, 9, 5}) {
        midiwriter::Track track;
        track.program(1, ch, 48).noteOn(0, ch, 48 + ch, 90).noteOff(2000, ch, 48 + ch).endOfTrack();
        tracks.push_back(track);
    }
    midiwriter::Track drums;
    drums.noteOn(1000, 3, 38, 120);
    for (int hit = 0; hit < 6; ++hit)
        drums.noteOff(100, 3, hit % 2 ? 36 : 38).noteOn(0, 3, hit % 2 ? 38 : 36, 110);
    drums.noteOff(100, 3, 38).endOfTrack();
    tracks.push_back(drums);
    return midiwriter::file(1, 480, tracks);
}

// Ten thousand notes struck at once across the sixteen channels, far beyond any synth's voices,
// released after a second; the effect sends are off, so the end is where the notes die away.
midiwriter::Bytes tenThousandNotesSong() {
    std::vector<midiwriter::Track> tracks;
    for (int ch = 0; ch < 16; ++ch) {
        midiwriter::Track track;
        track.controller(0, ch, 91, 0).controller(0, ch, 93, 0);
        for (int n = 0; n < 625; ++n)
            track.noteOn(0, ch, 24 + (n * 7 + ch) % 80, 40 + n % 80);
        track.controller(960, ch, 123, 0).endOfTrack(1920);
        tracks.push_back(track);
    }
    return midiwriter::file(1, 480, tracks);
}

// Every note on one channel: a song of sixteen bars for one synthesiser.
midiwriter::Bytes oneChannelSong() {
    midiwriter::Track track;
    for (int n = 0; n < 64; ++n)
        track.noteOn(n ? 60 : 0, 0, 40 + n % 30, 90).noteOff(60, 0, 40 + n % 30);
    track.endOfTrack();
    return midiwriter::file(0, 480, {track});
}

} // namespace

TEST(ParallelSongRenderer, HostileSongsLastAsLongAsOnOneSynthesizer) {
    ThreadBudget budget(4);
    {
        SCOPED_TRACE("every note on one channel");
        const MidiFile song = parse(oneChannelSong());
        Synthesizer synth(kSoundFont, kRate);
        ParallelSongRenderer renderer(song, synth, kRate, budget);
        EXPECT_EQ(renderAll(renderer, 1024).samples, renderOnOneSynth(song).samples);
        EXPECT_EQ(renderer.instances(), 1);
    }
    {
        SCOPED_TRACE("drum part switched by SysEx");
        const MidiFile song = parse(drumPartSwitchSong(true));
        const Audio reference = renderOnOneSynth(song);
        ASSERT_GT(residualDb(reference, renderOnOneSynth(parse(drumPartSwitchSong(false)))), -60.0)
            << "the SysEx changes nothing, so this checks nothing";
        Synthesizer synth(kSoundFont, kRate);
        ParallelSongRenderer renderer(song, synth, kRate, budget, 0, SplitPolicy::Always);
        const Audio audio = renderAll(renderer, 1024);
        EXPECT_EQ(renderer.instances(), 4);
        EXPECT_EQ(audio.frames(), reference.frames());
        EXPECT_LE(residualDb(audio, reference), -90.0);
    }
    {
        SCOPED_TRACE("ten thousand notes at once");
        const MidiFile song = parse(tenThousandNotesSong());
        const Audio reference = renderOnOneSynth(song);
        Synthesizer synth(kSoundFont, kRate);
        ParallelSongRenderer renderer(song, synth, kRate, budget);
        const Audio audio = renderAll(renderer, 4096);
        EXPECT_EQ(renderer.instances(), quillory::renderer::kMostLanes);
        EXPECT_EQ(audio.frames(), reference.frames());
        EXPECT_GT(levelDb(audio), -50.0);
    }
    {
        SCOPED_TRACE("the SoundFont file gone since it was loaded");
        rendertest::TempFolder dir;
        const std::filesystem::path copy = dir / "copy.sf2";
        std::filesystem::copy_file(kSoundFont, copy);
        Synthesizer synth(copy, kRate);
        std::filesystem::remove(copy);
        for (int song = 0; song < 2; ++song) {
            ParallelSongRenderer renderer(parse(everyChannelSong()), synth, kRate, budget);
            const Audio audio = renderAll(renderer, 1024);
            EXPECT_EQ(renderer.instances(), 1) << "only the loaded synth has the samples";
            EXPECT_GT(levelDb(audio), -40.0);
        }
    }
    EXPECT_EQ(budget.available(), 4u);
}

// The same songs as the program writes them: a levelled WAV through RenderJob, whose synthesis
// is split over the threads it is given and measured on a thread of its own.
TEST(ParallelSongRenderer, HostileSongsWrittenToAWavLastAsLongAsOnOneSynthesizer) {
    rendertest::TempFolder dir;
    std::filesystem::create_directory(dir / "work");
    struct Case {
        const char* name;
        midiwriter::Bytes midi;
        SplitPolicy policy;
        unsigned split; // how many synthesisers the song is played on
    };
    const Case cases[] = {
        {"every note on one channel", oneChannelSong(), SplitPolicy::WherePays, 1},
        {"drum part switched by SysEx", drumPartSwitchSong(true), SplitPolicy::Always, 3},
        {"ten thousand notes at once", tenThousandNotesSong(), SplitPolicy::WherePays,
         unsigned(quillory::renderer::kMostLanes)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MidiFile song = parse(c.midi);
        ThreadBudget budget(3);
        RenderOptions options;
        options.loudness = LoudnessTarget{};
        options.workFolder = dir / "work";
        options.threads = &budget;
        options.split = c.policy;
        const auto render = [&](const char* name, unsigned maxThreads) {
            options.maxThreads = maxThreads;
            Synthesizer synth(kSoundFont, kRate);
            RenderJob job(song, synth, dir / name, SoundFormat{kRate, 16, 2}, options);
            while (job.render(RenderJob::kMaxBlockFrames) > 0) {
            }
            job.close();
            return WavProbe::read(dir / name);
        };
        const WavProbe one = render("one.wav", 1);
        const WavProbe wav = render("song.wav", 0);
        ASSERT_TRUE(wav.valid);
        EXPECT_EQ(wav.frames(), one.frames());
        EXPECT_EQ(budget.largestGrant(), c.split);
        EXPECT_EQ(budget.available(), 3u) << "the finished song still holds threads";
    }
}

TEST(ParallelSongRenderer, StoppedHalfWayItEndsItsThreadsAndTheSynthStartsTheNextSongClean) {
    // Half a minute of held chords on every channel, none ever released.
    std::vector<midiwriter::Track> tracks;
    for (int ch = 0; ch < 16; ++ch) {
        midiwriter::Track track;
        track.program(0, ch, 48 + ch % 8).noteOn(0, ch, 40 + ch * 2, 100).endOfTrack(480 * 60);
        tracks.push_back(track);
    }
    const MidiFile held = parse(midiwriter::file(1, 480, tracks));
    const MidiFile next = parse(rendertest::chordSong());
    ThreadBudget budget(3);
    Synthesizer synth(kSoundFont, kRate);
    const int threadsBefore = rendertest::threadCount();
    {
        ParallelSongRenderer renderer(held, synth, kRate, budget, 0, SplitPolicy::Always);
        std::vector<float> left(1024), right(1024);
        for (int block = 0; block < 40; ++block)
            ASSERT_EQ(renderer.render(left.data(), right.data(), 1024), 1024u);
        // A synthesiser per thread, each loading its SoundFont there (FluidSynth may bring an
        // OpenMP team of its own for that).
        EXPECT_GE(rendertest::threadCount(), threadsBefore + 3);
        EXPECT_EQ(budget.available(), 0u);
        EXPECT_GT(renderer.percent(), 0);
        EXPECT_LT(renderer.percent(), 10);
    }
    EXPECT_EQ(rendertest::threadCount(), threadsBefore);
    EXPECT_EQ(budget.available(), 3u);
    // Nothing of the held chords may sound in the next song, which opens with a quarter second
    // of silence, and it renders as on a synth that never played anything.
    ParallelSongRenderer renderer(next, synth, kRate, budget);
    const Audio audio = renderAll(renderer, 1024);
    for (std::size_t i = 0; i < 2 * std::size_t(kRate) / 4; ++i)
        ASSERT_LT(std::fabs(audio.samples[i]), 1.0f / 65536) << "sample " << i;
    const Audio fresh = renderOnOneSynth(next);
    EXPECT_EQ(audio.frames(), fresh.frames());
    EXPECT_LE(residualDb(audio, fresh), -90.0);
    EXPECT_EQ(rendertest::threadCount(), threadsBefore) << "the helpers end with the song";

    // Stopped before its first block, it gives up weighing the song and plays it on one synth.
    const std::atomic<bool> stop{true};
    ParallelSongRenderer stopped(held, synth, kRate, budget, 0, SplitPolicy::Always, &stop);
    std::vector<float> left(1024), right(1024);
    EXPECT_EQ(stopped.render(left.data(), right.data(), 1024), 1024u);
    EXPECT_EQ(stopped.instances(), 1);
    EXPECT_EQ(stopped.load(), nullptr);
}

namespace {

// A song that leaves a mess behind: the first channel a drum part by GS SysEx, a tuning of its
// own by MIDI Tuning SysEx, master tuning, a GS reverb macro, a bank and program, a pitch-bend
// range of an octave and a bend, the sustain pedal, full reverb and chorus, and notes still
// sounding at its end.
midiwriter::Bytes messySong() {
    midiwriter::Track conductor;
    conductor.sysex(0, partMode(1, 1))
        .sysex(0, {0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 60, 62, 0x20, 0x00, 0xF7})
        .sysex(0, {0x7F, 0x7F, 0x04, 0x03, 0x00, 0x50, 0xF7})
        .sysex(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x05,
                   gsChecksum({0x40, 0x01, 0x30, 0x05}), 0xF7})
        .endOfTrack(960);
    std::vector<midiwriter::Track> tracks{conductor};
    for (const int ch : {0, 1, 2, 3}) {
        midiwriter::Track track;
        track.controller(0, ch, 0, 8).program(0, ch, 20 + ch * 9);
        track.controller(0, ch, 101, 0).controller(0, ch, 100, 0).controller(0, ch, 6, 12);
        track.controller(0, ch, 101, 0).controller(0, ch, 100, 3).controller(0, ch, 6, 0);
        track.controller(0, ch, 64, 127).controller(0, ch, 91, 127).controller(0, ch, 93, 127);
        track.noteOn(0, ch, 60, 110).noteOff(240, ch, 60).noteOn(0, ch, 64 + ch, 100);
        track.channel(120, std::uint8_t(0xE0 | ch), 0, 100).endOfTrack(600);
        tracks.push_back(track);
    }
    return midiwriter::file(1, 480, tracks);
}

// What the next song finds: channels 1 to 4 and the drums with their start programs, bent as
// far as the default range takes them, with the reverb and chorus they start with; and on
// channel 6 a chorus turned up, which reads its delay line from wherever the chorus last
// wrote it, unless the reset puts the line back where a new synthesiser has it.
midiwriter::Bytes plainSong() {
    std::vector<midiwriter::Track> tracks;
    for (const int ch : {0, 1, 2, 3, 5, 9}) {
        midiwriter::Track track;
        if (ch == 5)
            track.controller(0, ch, 93, 127);
        track.noteOn(std::uint32_t(ch * 11), ch, ch == 9 ? 38 : 55 + ch * 3, 100);
        track.channel(240, std::uint8_t(0xE0 | ch), 0, 90)
            .noteOff(480, ch, ch == 9 ? 38 : 55 + ch * 3);
        tracks.push_back(track.endOfTrack(240));
    }
    return midiwriter::file(1, 480, tracks);
}

} // namespace

// A batch worker keeps its synthesisers from song to song: after a messy song, or after the same
// song, the next sounds as on synthesisers that never played, split over two synthesisers taking
// turns on one thread, and over three on three.
TEST(ParallelSongRenderer, ASongAfterAMessyOneSoundsAsOnNewSynthesizers) {
    const MidiFile messy = parse(messySong());
    const MidiFile plain = parse(plainSong());
    // At the converter's rate: where the chorus reads its line between two samples is a sum of
    // doubles, whose rounding shows in these floats only now and then.
    constexpr int kRate = 44100;
    for (const unsigned threads : {1u, 3u}) {
        ThreadBudget budget(threads);
        Synthesizer fresh(kSoundFont, kRate);
        ParallelSongRenderer alone(plain, fresh, kRate, budget, 0, SplitPolicy::Always);
        const Audio expected = renderAll(alone, 1000);
        EXPECT_GT(levelDb(expected), -60.0);
        for (const MidiFile* before : {&messy, &plain}) {
            Synthesizer used(kSoundFont, kRate);
            {
                ParallelSongRenderer first(*before, used, kRate, budget, 0, SplitPolicy::Always);
                EXPECT_GT(levelDb(renderAll(first, 1000)), -60.0);
            }
            ParallelSongRenderer next(plain, used, kRate, budget, 0, SplitPolicy::Always);
            const Audio got = renderAll(next, 1000);
            EXPECT_EQ(next.instances(), int(std::max(2u, threads)));
            EXPECT_EQ(next.threads(), int(threads));
            EXPECT_EQ(got.samples, expected.samples)
                << threads << " threads, after " << (before == &messy ? "another song" : "itself");
        }
    }
}

// However many threads a song is granted (one core, two, or what another song leaves of them), it
// is planned from itself alone and sounds the same, sample for sample.
TEST(ParallelSongRenderer, ASongSoundsTheSameOnAnyNumberOfThreads) {
    const MidiFile song = parse(tenThousandNotesSong());
    Audio first;
    for (const unsigned threads : {1u, 2u, 3u}) {
        ThreadBudget budget(threads);
        Synthesizer synth(kSoundFont, kRate);
        ParallelSongRenderer renderer(song, synth, kRate, budget);
        const Audio audio = renderAll(renderer, 1000);
        EXPECT_EQ(renderer.instances(), quillory::renderer::kMostLanes);
        EXPECT_EQ(renderer.threads(),
                  int(std::min(threads, unsigned(quillory::renderer::kMostLanes))));
        if (first.samples.empty())
            first = audio;
        else
            EXPECT_EQ(audio.samples, first.samples) << threads << " threads";
    }
    ThreadBudget budget(2);
    const ThreadBudget::Grant other = budget.acquire(1);
    Synthesizer synth(kSoundFont, kRate);
    ParallelSongRenderer renderer(song, synth, kRate, budget);
    EXPECT_EQ(renderAll(renderer, 777).samples, first.samples) << "beside another song";
    EXPECT_EQ(renderer.threads(), 1);
}

// What a song's notes weigh depends on the song and the SoundFont alone: a synthesiser that has
// weighed other songs, with other keys, velocities and controllers on the same presets, weighs it
// as a new one does, so that its plan is the same alone and in a batch.
TEST(SongLoad, ASongWeighsTheSameAfterOtherSongs) {
    const MidiFile song = parse(everyChannelSong());
    const auto weighed = [&](Synthesizer& synth, const MidiFile& which) {
        synth.startWeighing();
        return SongLoad(which, kRate, [&](const MidiEvent& event) { return synth.weigh(event); })
            .notes();
    };
    Synthesizer fresh(kSoundFont, kRate);
    const std::vector<NoteSpan> expected = weighed(fresh, song);
    Synthesizer used(kSoundFont, kRate);
    for (const auto& other : {messySong(), tenThousandNotesSong(), drumPartSwitchSong(true)})
        weighed(used, parse(other));
    const std::vector<NoteSpan> got = weighed(used, song);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].voices, expected[i].voices) << "note " << i;
        EXPECT_EQ(got[i].held, expected[i].held) << "note " << i;
        EXPECT_EQ(got[i].end, expected[i].end) << "note " << i;
    }
}

TEST(ParallelSongRenderer, TakesNoMoreThreadsThanItIsGrantedAndGivesBackWhatItDoesNotUse) {
    const MidiFile everyChannel = parse(everyChannelSong());
    Synthesizer synth(kSoundFont, kRate);
    const int threadsBefore = rendertest::threadCount();
    {
        ThreadBudget budget(2);
        ParallelSongRenderer renderer(everyChannel, synth, kRate, budget, 0, SplitPolicy::Always);
        std::vector<float> left(512), right(512);
        renderer.render(left.data(), right.data(), 512);
        EXPECT_EQ(renderer.instances(), 2);
        EXPECT_GE(rendertest::threadCount(), threadsBefore + 2);
        EXPECT_EQ(budget.available(), 0u);
        while (renderer.render(left.data(), right.data(), 512) > 0) {
        }
        EXPECT_EQ(budget.available(), 2u) << "a finished song holds no threads";
    }
    {
        ThreadBudget budget(6);
        ParallelSongRenderer renderer(everyChannel, synth, kRate, budget, 2, SplitPolicy::Always);
        std::vector<float> left(512), right(512);
        renderer.render(left.data(), right.data(), 512);
        EXPECT_EQ(renderer.instances(), 2) << "no more than the renderer's own limit";
        EXPECT_EQ(budget.available(), 4u);
    }
    // Two seconds of a chord and a bass line do not pay for a second synthesiser's reverb and
    // chorus and its set-up: one thread is kept and the rest given back.
    ThreadBudget budget(6);
    const MidiFile chords = parse(rendertest::chordSong());
    ParallelSongRenderer renderer(chords, synth, kRate, budget);
    std::vector<float> left(512), right(512);
    renderer.render(left.data(), right.data(), 512);
    EXPECT_EQ(renderer.instances(), 1);
    EXPECT_EQ(budget.available(), 5u);
    EXPECT_EQ(rendertest::threadCount(), threadsBefore);
}

// Control groups as containers and services leave them: the quota is the tightest on the way up
// from the process's group, a part of a core needs a whole one, and a group that the process
// names by the host's path but sees as the mount's root still counts.
TEST(ThreadBudget, CountsTheCoresThatTheControlGroupQuotaAllows) {
    using Files = std::map<std::string, std::string>;
    const std::tuple<const char*, Files, unsigned> cases[] = {
        {"0::/a/b", {{"a/cpu.max", "max 100000"}, {"a/b/cpu.max", "150000 100000"}}, 2},
        {"0::/a/b", {{"a/cpu.max", "50000 100000"}, {"a/b/cpu.max", "400000 100000"}}, 1},
        {"0::/system.slice/docker-1.scope", {{"cpu.max", "250000 100000"}}, 3},
        {"9:memory:/x\n4:cpu,cpuacct:/docker/x",
         {{"cpu,cpuacct/cpu.cfs_quota_us", "300000"}, {"cpu,cpuacct/cpu.cfs_period_us", "100000"}},
         3},
        {"4:cpuacct,cpu:/", {{"cpuacct,cpu/cpu.cfs_quota_us", "-1"}}, 0},
    };
    for (const auto& [self, files, cores] : cases) {
        SCOPED_TRACE(self);
        rendertest::TempFolder dir;
        for (const auto& [name, text] : files) {
            std::filesystem::create_directories((dir / name).parent_path());
            std::ofstream(dir / name) << text << "\n";
        }
        std::ofstream(dir / "self") << self << "\n";
        EXPECT_EQ(cgroupQuotaCores(dir.path(), dir / "self"), cores);
    }
}

TEST(ThreadBudget, GrantsNeverAddUpToMoreThanTheBudgetAndAWaitEndsWhenOneIsGivenBack) {
    ThreadBudget budget(3);
    std::atomic<int> inUse{0}, most{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w) {
        workers.emplace_back([&, w] {
            for (int round = 0; round < 200; ++round) {
                ThreadBudget::Grant grant = budget.acquire(unsigned(1 + (w + round) % 4));
                int held = int(grant.threads());
                const int now = inUse += held;
                for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
                }
                if (round % 3 == 0) {
                    inUse -= held - 1;
                    held = 1;
                    grant.shrink(1);
                }
                std::this_thread::yield();
                inUse -= held;
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_LE(most.load(), 3);
    EXPECT_EQ(budget.available(), 3u);

    ThreadBudget::Grant all = budget.acquire(10);
    EXPECT_EQ(all.threads(), 3u);
    EXPECT_EQ(budget.tryAcquire(1).threads(), 0u);
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        const ThreadBudget::Grant one = budget.acquire(2);
        got = one.threads() == 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(got);
    all.shrink(2);
    waiter.join();
    EXPECT_TRUE(got);
}

namespace {

// A piano chord built up key by key on channel 0 over six seconds and let go at once, over one
// held note on channel 1: channel 0 has nearly all the work, and it comes slowly enough for a
// synthesiser that runs the effects for both to be given its share. No voice ends before the last
// note starts, so no voice slot is reused and one synth and several must agree to float rounding.
midiwriter::Bytes heavyChordSong(int controller = -1) {
    midiwriter::Track piano;
    if (controller >= 0)
        piano.controller(0, 0, controller, 127);
    for (int n = 0; n < 24; ++n)
        piano.noteOn(n ? 240 : 0, 0, 36 + 2 * n, 60 + n);
    for (int n = 0; n < 24; ++n)
        piano.noteOff(n ? 0 : 900, 0, 36 + 2 * n);
    piano.endOfTrack(120);
    midiwriter::Track bass;
    bass.program(0, 1, 33).noteOn(0, 1, 40, 90).endOfTrack(1000);
    return midiwriter::file(1, 480, {piano, bass});
}

// A busy drum kit on channel 10, open, pedal and closed hi-hats among its hits, and one note on
// channel 1.
midiwriter::Bytes busyDrumSong() {
    midiwriter::Track drums;
    const int pattern[] = {36, 46, 38, 42, 49, 44, 36, 46, 51, 42, 38, 57};
    for (int hit = 0; hit < 96; ++hit)
        drums.noteOn(hit ? 60 : 0, 9, pattern[hit % 12], 100).noteOff(60, 9, pattern[hit % 12]);
    drums.endOfTrack();
    midiwriter::Track lead;
    lead.noteOn(0, 0, 60, 80).noteOff(480, 0, 60).endOfTrack();
    return midiwriter::file(1, 480, {drums, lead});
}

// Which lanes a sharer gives the notes of one channel's keys to, the song played through it.
std::set<int> lanesOfKeys(const MidiFile& song, const SongLoad& load, NoteSharer& sharer,
                          int channel, std::set<int> keys) {
    std::set<int> lanes;
    MidiFile::Cursor cursor(song);
    for (MidiEvent e; cursor.next(e);) {
        if (e.status == 0xFF)
            continue;
        const int lane = sharer.laneFor(e, song.frameAt(e.time, load.sampleRate()));
        if ((e.status & 0xF0) == 0x90 && e.data2 > 0 && (e.status & 0x0F) == channel &&
            keys.count(e.data1))
            lanes.insert(lane);
    }
    return lanes;
}

SongLoad weighed(const MidiFile& song, Synthesizer& synth) {
    synth.startWeighing();
    return SongLoad(song, kRate, [&synth](const MidiEvent& event) { return synth.weigh(event); });
}

} // namespace

TEST(ParallelSongRenderer, AChannelTooHeavyForOneSynthesizerIsSharedOutAndStillSumsAlike) {
    const MidiFile song = parse(heavyChordSong());
    ThreadBudget budget(2);
    Synthesizer synth(kSoundFont, kRate);
    ParallelSongRenderer renderer(song, synth, kRate, budget, 0, SplitPolicy::Always);
    const Audio audio = renderAll(renderer, 1024);
    ASSERT_EQ(renderer.instances(), 2);
    // The bass alone is a few voice-seconds: both synthesisers play piano notes, the first fewer
    // where it runs the effects for both.
    std::vector<double> work = renderer.laneWork();
    for (std::size_t lane = 0; lane < work.size(); ++lane)
        work[lane] += fixedVoices(int(lane), renderer.sharesEffects()) * renderer.load()->seconds();
    EXPECT_GT(std::min(work[0], work[1]), 0.25 * (work[0] + work[1]))
        << "the piano's notes are not shared out";
    const Audio reference = renderOnOneSynth(song);
    EXPECT_EQ(audio.frames(), reference.frames());
    EXPECT_LE(residualDb(audio, reference), -90.0);
}

TEST(NoteSharer, KeysThatChokeEachOtherAndNotesThatLeadOnStayTogether) {
    Synthesizer synth(kSoundFont, kRate);
    {
        SCOPED_TRACE("busy drums: shared out, the hi-hats on one synthesiser");
        const MidiFile song = parse(busyDrumSong());
        const SongLoad load = weighed(song, synth);
        NoteSharer sharer(load, 2);
        EXPECT_EQ(lanesOfKeys(song, load, sharer, 9, {42, 44, 46}).size(), 1u);
        NoteSharer again(load, 2);
        EXPECT_EQ(lanesOfKeys(song, load, again, 9, {36, 38, 49, 51, 57}).size(), 2u)
            << "the drums are not shared out";
    }
    {
        SCOPED_TRACE("bank 1 program 2 and bank 0 program 66 each weigh their own voices");
        synth.startWeighing();
        const auto weigh = [&synth](int bank, int program) {
            synth.weigh({.status = 0xB0, .data1 = 0, .data2 = std::uint8_t(bank), .payload = {}});
            synth.weigh({.status = 0xC0, .data1 = std::uint8_t(program), .payload = {}});
            return synth.weigh({.status = 0x90, .data1 = 60, .data2 = 100, .payload = {}}).voices;
        };
        EXPECT_EQ(weigh(1, 2), 2); // TimGM6mb has no bank 1: bank 0 program 2, two voices
        EXPECT_EQ(weigh(0, 66), 1);
    }
    for (const int controller : {65, 68, 84, 126}) {
        SCOPED_TRACE("controller " + std::to_string(controller) + " on the heavy channel");
        const MidiFile song = parse(heavyChordSong(controller));
        const SongLoad load = weighed(song, synth);
        EXPECT_TRUE(load.whole(0));
        NoteSharer sharer(load, 2);
        std::set<int> keys;
        for (int n = 0; n < 24; ++n)
            keys.insert(36 + 2 * n);
        EXPECT_EQ(lanesOfKeys(song, load, sharer, 0, keys).size(), 1u);
    }
}

namespace {

// A channel's notes, each `length` ticks long and `gap` ticks apart, on the track's own channel.
midiwriter::Track notes(int ch, int count, std::uint32_t length, std::uint32_t gap) {
    midiwriter::Track track;
    for (int n = 0; n < count; ++n)
        track.noteOn(n ? gap : 0, ch, 60).noteOff(length, ch, 60);
    track.endOfTrack();
    return track;
}

} // namespace

TEST(SongLoad, WeighsEachNoteByItsVoicesAndHowLongTheySound) {
    // At 120 bpm and 480 ticks a beat: 480 ticks are half a second.
    const auto load = [](std::vector<midiwriter::Track> tracks, const SongLoad::Weigh& weigh) {
        return SongLoad(parse(midiwriter::file(1, 480, tracks)), kRate, weigh);
    };
    const auto costs = [](NoteProbe::Cost cost) {
        return [cost](const MidiEvent&) { return cost; };
    };
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        std::vector<midiwriter::Track> tracks;
        NoteProbe::Cost cost;
        double voiceSeconds;
    };
    midiwriter::Track pedal, sostenuto, restruck, hats;
    pedal.controller(0, 0, 64, 127).noteOn(0, 0, 60).noteOff(480, 0, 60);
    pedal.controller(1440, 0, 64, 0).endOfTrack(480);
    // Held by the sostenuto pedal: the key down when it went down, not the one struck after.
    sostenuto.noteOn(0, 0, 60).controller(0, 0, 66, 127).noteOff(480, 0, 60);
    sostenuto.noteOn(0, 0, 62).noteOff(480, 0, 62).controller(960, 0, 66, 0).endOfTrack(480);
    // Struck again before its note-off: the first note is let go then.
    restruck.noteOn(0, 0, 60).noteOn(480, 0, 60).noteOff(480, 0, 60).noteOff(0, 0, 60);
    restruck.endOfTrack();
    // A second note of the first's exclusive class chokes it: its voices sound for their choked
    // time after.
    hats.noteOn(0, 0, 46).noteOff(96, 0, 46).noteOn(384, 0, 42).noteOff(96, 0, 42).endOfTrack();
    const Case cases[] = {
        {"notes end when let go", {notes(0, 3, 960, 0)}, {1, 0, inf, 0}, 3.0},
        {"voices and release", {notes(1, 3, 960, 0)}, {4, 0, inf, 0.5}, 4 * 3 * 1.5},
        {"a sound that ends on its own", {notes(2, 3, 960, 0)}, {2, 0, 0.25, 3.0}, 2 * 3 * 0.25},
        {"the sustain pedal", {pedal}, {1, 0, inf, 0.5}, 2.0 + 0.5},
        {"the sostenuto pedal", {sostenuto}, {1, 0, inf, 0}, 2.0 + 0.5},
        {"a key struck again", {restruck}, {1, 0, inf, 0.5}, 1.0 + 1.0},
        {"an exclusive class", {hats}, {1, 3, inf, 4.0, 0.6}, (0.5 + 0.6) + (0.1 + 4.0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(load(c.tracks, costs(c.cost)).voiceSeconds(), c.voiceSeconds, 1e-3);
    }
}

// The estimate against what FluidSynth really sounds: a song rendered on one synthesiser with
// its voices counted block by block. The strings and the harp ring on for seconds after their
// notes; the hi-hats end on their own, or choke each other with a fast release.
TEST(SongLoad, AgreesWithTheVoicesOneSynthesizerSounds) {
    midiwriter::Track strings, harp, drums;
    strings.program(0, 0, 48);
    harp.program(0, 1, 46);
    for (int bar = 0; bar < 8; ++bar) {
        strings.noteOn(bar ? 480 : 0, 0, 48 + bar % 5, 90).noteOff(480, 0, 48 + bar % 5);
        for (int n = 0; n < 4; ++n)
            harp.noteOn(bar || n ? 200 : 0, 1, 60 + (bar * 3 + n) % 12, 100).noteOff(40, 1, 60);
        for (int n = 0; n < 4; ++n)
            drums.noteOn(bar || n ? 120 : 0, 9, n % 2 ? 42 : 46, 110).noteOff(120, 9, 42);
    }
    midiwriter::Track hats;
    for (int n = 0; n < 64; ++n)
        hats.noteOn(n ? 40 : 0, 9, n % 3 ? 42 : 46, 100).noteOff(20, 9, n % 3 ? 42 : 46);
    const std::vector<midiwriter::Track> songs[] = {
        {strings.endOfTrack(), harp.endOfTrack(), drums.endOfTrack()}, {hats.endOfTrack()}};
    for (const auto& tracks : songs) {
        const MidiFile song = parse(midiwriter::file(1, 480, tracks));
        Synthesizer synth(kSoundFont, kRate);
        const SongLoad load = weighed(song, synth);
        SongRenderer renderer(song, synth, kRate);
        std::vector<float> left(64), right(64);
        double sounded = 0;
        while (const std::size_t n = renderer.render(left.data(), right.data(), 64))
            sounded += double(synth.activeVoices()) * double(n) / kRate;
        ASSERT_GT(sounded, 2.0);
        EXPECT_NEAR(load.voiceSeconds(), sounded, 0.15 * sounded) << tracks.size() << " tracks";
    }
}

TEST(SongLoad, OneSynthesizerForAThinSongSeveralForADenseOne) {
    const auto load = [](int notesPerChannel, int channels) {
        std::vector<midiwriter::Track> tracks;
        for (int ch = 0; ch < channels; ++ch)
            tracks.push_back(notes(ch, notesPerChannel, 960, 0));
        return SongLoad(parse(midiwriter::file(1, 480, tracks)), kRate);
    };
    EXPECT_EQ(bestInstances(load(8, 1), 4, 4), 1) << "eight seconds of one voice";
    EXPECT_EQ(bestInstances(load(600, 16), 4, 4), 4) << "ten minutes of sixteen voices";
    EXPECT_EQ(bestInstances(load(600, 16), 4, 2), 2) << "no more than there are cores";
    // Shared out as played, each of two synthesisers gets half of one channel's notes.
    std::vector<midiwriter::Track> voices(3);
    for (int v = 0; v < 3; ++v) {
        for (int n = 0; n < 30; ++n)
            voices[v]
                .noteOn(n ? 0 : 160 * v, 0, 40 + 10 * v + n % 10)
                .noteOff(480, 0, 40 + 10 * v + n % 10);
        voices[v].endOfTrack();
    }
    const MidiFile song = parse(midiwriter::file(1, 480, voices));
    const SongLoad dense(song, kRate);
    NoteSharer sharer(dense, 2);
    lanesOfKeys(song, dense, sharer, 0, {});
    EXPECT_NEAR(sharer.work()[0], sharer.work()[1], 0.1 * dense.voiceSeconds());
}
