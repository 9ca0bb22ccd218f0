// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Where notes really sounded, judged on the audio: single notes at known times, held by the
// pedal, bent in pitch, or more of them at once than the synthesiser has voices.
#include "components/synthesis/ParallelSongRenderer.h"
#include "components/synthesis/SongRenderer.h"
#include "components/synthesis/ThreadBudget.h"
#include "tests/components/renderer/RenderSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numeric>

using namespace quillory::renderer;
using rendertest::kSoundFont;

namespace {

constexpr int kRate = 44100;
constexpr std::uint16_t kTicks = 1000; // a tick to the millisecond at 60 beats a minute

struct Rendered {
    std::vector<float> left;
    std::vector<NoteLabel> labels;
    int instances = 0;
};

Rendered render(const midiwriter::Bytes& midi, unsigned threads = 1,
                SplitPolicy policy = SplitPolicy::WherePays) {
    const MidiFile song = MidiFile::parse(midi, "labels.mid");
    ThreadBudget budget(threads);
    Synthesizer synth(kSoundFont, kRate);
    ParallelSongRenderer renderer(song, synth, kRate, budget, 0, policy);
    renderer.keepLabels();
    Rendered out;
    std::vector<float> left(1000), right(1000);
    while (const std::size_t n = renderer.render(left.data(), right.data(), left.size()))
        out.left.insert(out.left.end(), left.begin(), left.begin() + long(n));
    out.labels = renderer.labels();
    out.instances = renderer.instances();
    return out;
}

// The frame a millisecond of the song falls on, and where the block rule puts an event there.
std::uint64_t frameOf(int ms) {
    return std::uint64_t((std::int64_t(ms) * kRate + 999) / 1000);
}
std::uint64_t onBlock(int ms) {
    return (frameOf(ms) + 63) / 64 * 64;
}

midiwriter::Track dryTrack(int channel) {
    midiwriter::Track track;
    track.tempo(0, 1000000).controller(0, channel, 91, 0).controller(0, channel, 93, 0);
    return track;
}

} // namespace

// A wood block struck at times that fall between FluidSynth's blocks, one song a stroke: its
// label is on the block the rule names, nothing sounds before it, and the sound starts within a
// millisecond of it; a phrase of them is labelled alike.
TEST(NoteLabels, AnOnsetIsTheFirstBlockAtOrAfterItsEventAndTheSoundStartsThere) {
    const int times[] = {13, 400, 811, 1203, 2047};
    midiwriter::Track phrase = dryTrack(9);
    int at = 0;
    for (const int ms : times) {
        midiwriter::Track alone = dryTrack(9);
        alone.noteOn(std::uint32_t(ms), 9, 76, 110).noteOff(30, 9, 76).endOfTrack(300);
        const Rendered r = render(midiwriter::file(0, kTicks, {alone}));
        ASSERT_EQ(r.labels.size(), 1u);
        const NoteLabel& note = r.labels[0];
        EXPECT_EQ(note.onset, onBlock(ms)) << ms;
        EXPECT_EQ(note.keyOffset, onBlock(ms + 30)) << ms;
        EXPECT_TRUE(note.silent.empty()) << note.silent;
        // The reverb's noise floor is far below -100 dBFS, a wood block's attack far above.
        std::size_t heard = 0;
        while (heard < r.left.size() && std::fabs(r.left[heard]) < 1e-5f)
            ++heard;
        EXPECT_GE(heard, note.onset) << "sound before the label at " << ms << " ms";
        EXPECT_LE(heard, note.onset + frameOf(1)) << "the label before the sound at " << ms;
        EXPECT_GT(note.soundEnd, note.onset + frameOf(30));
        phrase.noteOn(std::uint32_t(ms - at), 9, 76, 110).noteOff(30, 9, 76);
        at = ms + 30;
    }
    const Rendered r = render(midiwriter::file(0, kTicks, {phrase.endOfTrack(300)}));
    ASSERT_EQ(r.labels.size(), std::size(times));
    for (std::size_t i = 0; i < r.labels.size(); ++i)
        EXPECT_EQ(r.labels[i].onset, onBlock(times[i])) << i;
}

// The key is let go at the note-off; the note ends when the pedal lets it go.
TEST(NoteLabels, TheSustainPedalExtendsTheOffsetButNotTheKeysRelease) {
    midiwriter::Track track = dryTrack(0);
    track.program(0, 0, 0)
        .controller(50, 0, 64, 127) // pedal down at 50 ms
        .noteOn(50, 0, 60, 100)     // 100 ms
        .noteOff(200, 0, 60)        // 300 ms
        .controller(300, 0, 64, 0)  // pedal up at 600 ms
        .noteOn(200, 0, 64, 100)    // 800 ms, no pedal
        .noteOff(150, 0, 64)        // 950 ms
        .endOfTrack(1000);
    const Rendered r = render(midiwriter::file(0, kTicks, {track}));
    ASSERT_EQ(r.labels.size(), 2u);
    const NoteLabel& held = r.labels[0];
    EXPECT_EQ(held.keyOffset, onBlock(300));
    EXPECT_EQ(held.offset, onBlock(600));
    EXPECT_GT(held.soundEnd, held.offset) << "the release rings on";
    const NoteLabel& plain = r.labels[1];
    EXPECT_EQ(plain.keyOffset, onBlock(950));
    EXPECT_EQ(plain.offset, plain.keyOffset);
}

// A flute bent up a whole tone: the label's frequency is the one the audio has.
TEST(NoteLabels, TheFrequencyIsThePitchBentAtTheOnset) {
    midiwriter::Track track = dryTrack(0);
    track.program(0, 0, 73)
        .channel(0, 0xE0, 0x7F, 0x7F)
        .noteOn(10, 0, 69, 100)
        .noteOff(1500, 0, 69);
    const Rendered r = render(midiwriter::file(0, kTicks, {track.endOfTrack(200)}));
    ASSERT_EQ(r.labels.size(), 1u);
    const double expected = 440.0 * std::pow(2.0, (8191.0 / 8192.0) * 2.0 / 12.0);
    EXPECT_NEAR(r.labels[0].frequencyHz, expected, 0.01);
    // The audio's period, from the lag of the strongest autocorrelation over half a second.
    const std::size_t from = std::size_t(frameOf(500)), count = std::size_t(frameOf(500));
    ASSERT_GT(r.left.size(), from + count + 400);
    int best = 0;
    double bestScore = 0;
    for (int lag = kRate / 1000; lag < kRate / 200; ++lag) {
        double score = 0;
        for (std::size_t i = from; i < from + count; ++i)
            score += double(r.left[i]) * r.left[i + std::size_t(lag)];
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    EXPECT_NEAR(double(kRate) / best, r.labels[0].frequencyHz, r.labels[0].frequencyHz * 0.01);
}

// Four hundred notes struck at once: the synthesiser has 256 voices, and the notes that found
// none say so.
TEST(NoteLabels, NotesThatFindNoVoiceSaySo) {
    midiwriter::Track track = dryTrack(0);
    for (int n = 0; n < 400; ++n)
        track.noteOn(0, n % 16, 30 + n % 70, 40 + n % 80);
    for (int ch = 0; ch < 16; ++ch)
        track.controller(ch == 0 ? 500 : 0, ch, 123, 0);
    // On one synthesiser, as a song too short to be split plays.
    const MidiFile song = MidiFile::parse(midiwriter::file(0, kTicks, {track.endOfTrack(100)}), "");
    Synthesizer synth(kSoundFont, kRate);
    SongRenderer renderer(song, synth, kRate);
    NoteLog log;
    synth.logNotes(&log);
    std::vector<float> left(1000), right(1000);
    std::uint64_t frames = 0;
    while (const std::size_t n = renderer.render(left.data(), right.data(), left.size()))
        frames += n;
    log.close(frames);
    ASSERT_EQ(log.notes().size(), 400u);
    std::size_t sounded = 0, noVoice = 0;
    for (const NoteLabel& note : log.notes()) {
        sounded += note.silent.empty();
        noVoice += note.silent == "no free voice";
    }
    EXPECT_EQ(sounded, 256u) << "one note, one voice, in this SoundFont";
    EXPECT_GE(noVoice, 400u - 256u - 3u); // three keys of the drum channel have no sample
}

// The labels are the synthesis's own: split over two synthesisers or played on one thread, a
// song's notes are where they are.
TEST(NoteLabels, ASplitSongIsLabelledAsItSounds) {
    std::vector<midiwriter::Track> tracks;
    for (int ch = 0; ch < 8; ++ch) {
        midiwriter::Track track = dryTrack(ch);
        track.program(0, ch, ch * 8);
        for (int n = 0; n < 40; ++n)
            track.noteOn(n == 0 ? std::uint32_t(ch * 7) : 13, ch, 40 + (n * 5 + ch) % 40, 90)
                .noteOff(90 + ch, ch, 40 + (n * 5 + ch) % 40);
        tracks.push_back(track.endOfTrack());
    }
    const midiwriter::Bytes midi = midiwriter::file(1, kTicks, tracks);
    const Rendered one = render(midi, 1, SplitPolicy::Always);
    const Rendered two = render(midi, 2, SplitPolicy::Always);
    EXPECT_EQ(one.instances, 2);
    ASSERT_EQ(one.labels.size(), 320u);
    ASSERT_EQ(two.labels.size(), one.labels.size());
    for (std::size_t i = 0; i < one.labels.size(); ++i) {
        EXPECT_EQ(one.labels[i].onset, two.labels[i].onset);
        EXPECT_EQ(one.labels[i].soundEnd, two.labels[i].soundEnd);
    }
    EXPECT_TRUE(
        std::is_sorted(one.labels.begin(), one.labels.end(),
                       [](const NoteLabel& a, const NoteLabel& b) { return a.onset < b.onset; }));
}
