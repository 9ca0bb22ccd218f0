// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// How a song's synthesis is shared out between synthesisers, note by note. A synthesiser spends
// its time on two things: each instance pays a fixed amount per second of audio (mixing, and the
// reverb and chorus, which the first instance runs for all where they can be shared and every
// instance runs otherwise, for the sum to sound as one synthesiser), and each voice
// costs about the same while it sounds. So the work of a note is its voices times how long they
// sound: from the note-on until the key is let go (the sustain and sostenuto pedals holding it),
// then through the release, or less where the sound ends on its own (NoteProbe measures both).
//
// SongLoad walks the song once before it is rendered and gives every note its span; the number
// of synthesisers follows from the total, weighed against what each further one repeats
// (bestInstances). NoteSharer gives each channel a home synthesiser, the channels shared out by
// their work, and plays a note at home unless home has got ahead of another synthesiser by more
// work than the queue between them absorbs (see ParallelSongRenderer): then the one furthest
// behind takes it. So the synthesisers never wait for each other, and most of a channel's notes
// still stay together (a new voice takes over its voice slot from the last voice there, and a
// voice of the same channel leaves it as the new one wants it). Only what FluidSynth links
// between notes keeps notes together whatever the balance: a key// notes together whatever the
// balance: a key still held (a new note on it releases the old one), keys of one exclusive class
// while one of them rings (a closed hi-hat chokes an open one), and channels whose notes lead on
// from the last (mono, legato, portamento), which stay on one synthesiser for the whole song.
#pragma once

#include "components/midi/MidiFile.h"
#include "components/synthesis/NoteProbe.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

namespace quillory::renderer {

// What a standard MIDI file can address: a channel message carries the channel in four bits.
inline constexpr int kMidiChannels = 16;
inline constexpr int kMidiKeys = 128;

// One note, in frames from the start of the song.
struct NoteSpan {
    std::uint64_t start = 0;
    // When the key is let go for good, the pedals included.
    std::uint64_t held = 0;
    // When its voices have stopped sounding.
    std::uint64_t end = 0;
    std::uint16_t voices = 0;
    std::uint8_t exclusiveClass = 0;

    double voiceSeconds(int sampleRate) const {
        return double(voices) * double(end - start) / double(sampleRate);
    }
};

// What one synthesiser costs per second of audio besides its voices, and what the output costs
// (measuring the loudness, writing the work file and the WAV), both in voices: the processor
// time of that many voices sounding. Fitted with FluidR3 at 44.1 kHz to what each synthesiser of
// ten real and six generated split songs took (bench/parallel): 5.3 voices for one that runs the
// reverb and chorus, nothing to measure for one that hands its sends on. So all of an instance
// is its reverb and chorus (kEffectsVoices), which a split song runs on its first synthesiser
// alone where they can be shared (EffectShare).
inline constexpr double kInstanceVoices = 5.5;
inline constexpr double kEffectsVoices = 5.5;
inline constexpr double kOutputVoices = 3.0;
// Making a further instance ready (its SoundFont from FluidSynth's sample cache), in
// voice-seconds: a short song does not win that back.
inline constexpr double kSetupVoices = 170.0;

// The most synthesisers a song is split over, and the cores its plan assumes. The plan is made from
// the song and the SoundFont alone, so that a song sounds the same on any machine and beside any
// other work (a split changes the samples by float rounding and by FluidSynth's voice slots): on
// fewer cores the same synthesisers take turns on fewer threads. Two is what pays on the two cores
// the plan was measured on; a machine with more cores uses them for more songs at once.
inline constexpr int kMostLanes = 2;

// Whether a song is split over as many instances as pay, or over every thread granted (to
// compare the two).
enum class SplitPolicy { WherePays, Always };

class SongLoad {
public:
    // The cost of each note-on, given every event of the song but meta events, in order (what any
    // other event returns is not used); without one, a note is one voice that stops sounding when
    // let go.
    using Weigh = std::function<NoteProbe::Cost(const MidiEvent&)>;

    // Throws MidiError on a corrupt event, as rendering would.
    SongLoad(const MidiFile& song, int sampleRate, const Weigh& weigh = {});

    // Every note-on of the song, in the order of its events.
    const std::vector<NoteSpan>& notes() const { return notes_; }
    int sampleRate() const { return sampleRate_; }
    double seconds() const { return seconds_; }
    // Voice-seconds of all notes, and of one channel's.
    double voiceSeconds() const;
    double voiceSeconds(int channel) const { return channelVoiceSeconds_[std::size_t(channel)]; }
    int channelsInUse() const;
    // Whether the channel's notes lead on from each other and must stay on one synthesiser.
    bool whole(int channel) const { return whole_.test(std::size_t(channel)); }

private:
    class Walk;

    int sampleRate_;
    double seconds_ = 0;
    std::vector<NoteSpan> notes_;
    std::array<double, kMidiChannels> channelVoiceSeconds_{};
    std::bitset<kMidiChannels> whole_;
};

// The work each of `instances` synthesisers is expected to do, in voice-seconds, and the time the
// song takes on `cores`: the busiest synthesiser, or all the work shared out when there is more
// of it than cores.
// sharedEffects: the first synthesiser runs the reverb and chorus for all.
double expectedSeconds(const SongLoad& load, int instances, int cores, bool sharedEffects = false);
// The number of synthesisers, from 1 to `most`, that renders the song soonest on `cores`.
int bestInstances(const SongLoad& load, int most, int cores, bool sharedEffects = false);
// What a synthesiser costs besides its voices: the first `lane` of a split with shared effects
// runs them for all, and the others none.
double fixedVoices(int lane, bool sharedEffects);

// Gives each note of a song to one of `lanes` synthesisers, in the order the song plays them.
class NoteSharer {
public:
    NoteSharer(const SongLoad& load, int lanes, bool sharedEffects = false);

    // How far, in seconds of the busier lane's work, lanes may get ahead of each other: about
    // half the queue of blocks between them.
    static constexpr double kDriftSeconds = 0.35;

    // The lane an event goes to, or -1 for every lane: a note-on goes where it is due, a note-off
    // or key pressure where its key was last played, everything else everywhere.
    int laneFor(const MidiEvent& event, std::uint64_t frame);
    // Voice-seconds given to each lane so far, effects not included.
    const std::vector<double>& work() const { return work_; }

private:
    struct Ending {
        std::uint64_t frame;
        std::uint16_t voices;
        bool operator>(const Ending& other) const { return frame > other.frame; }
    };
    // A lane's notes as they sound: what they have cost up to `at`, in voice-frames.
    struct Lane {
        std::priority_queue<Ending, std::vector<Ending>, std::greater<Ending>> endings;
        int sounding = 0;
        double done = 0;
        std::uint64_t at = 0;
        double fixed = 0; // voices, besides its notes' (fixedVoices)
        void advance(std::uint64_t frame);
    };

    int noteOn(int channel, int key, std::uint64_t frame);
    int sharedOut(int channel, std::uint64_t frame);
    void chooseHomes();

    const SongLoad& load_;
    std::vector<Lane> lanes_;
    std::vector<double> work_;
    std::size_t next_ = 0;
    std::array<std::array<std::int8_t, kMidiKeys>, kMidiChannels> keyLane_;
    std::array<std::array<std::uint64_t, kMidiKeys>, kMidiChannels> keyHeld_{};
    std::array<std::array<std::int8_t, kMidiKeys>, kMidiChannels> classLane_;
    std::array<std::array<std::uint64_t, kMidiKeys>, kMidiChannels> classRings_{};
    std::array<std::int8_t, kMidiChannels> channelLane_;
    std::array<std::int8_t, kMidiChannels> home_{};
};

} // namespace quillory::renderer
