// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What each note of a song will cost a synthesiser, found before the song is rendered. A
// synthesiser spends its time on sounding voices, and a voice sounds from its note-on until its
// release has died away or its sample has run out, whichever comes first: a plucked harp or a
// cymbal ends on its own while the key is still down, a string pad rings on for as long as it is
// held and then through its release, often for seconds. The SoundFont decides all of it, so the
// probe asks FluidSynth: it plays each new (preset, key, velocity) once on a quiet synthesiser of
// its own, counts the voices it starts, and times how long they sound when held and after a
// note-off. The synthesiser runs at a low rate without reverb or chorus, since envelopes and
// samples last the same in seconds at any rate, and takes its samples from FluidSynth's sample
// cache, where the song's own synthesiser has loaded them: loading them again on demand held
// tens of MiB more for the whole render. What it measured is kept for every later note of the song
// that lasts alike, and for every later song; what a song is told never depends on the songs
// weighed before it (see weigh()).
#pragma once

#include "components/midi/MidiFile.h"
#include "components/synthesis/FluidInstance.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <unordered_map>

namespace quillory::renderer {

class NoteProbe {
public:
    struct Cost {
        int voices = 0;
        // The SoundFont's exclusive class of any of the voices (0: none): a note of a class
        // silences the channel's sounding notes of the same class, as a closed hi-hat chokes an
        // open one.
        int exclusiveClass = 0;
        // How long the voices sound while the key stays down (infinite for a sustained sound),
        // and how long after it is let go.
        double heldSeconds = std::numeric_limits<double>::infinity();
        double releaseSeconds = 0;
        // How long they sound on once another note of their exclusive class chokes them:
        // FluidSynth gives them a fast release.
        double chokedSeconds = 0;

        // Voice-seconds of the note when held for `held` seconds, the pedals included.
        double work(double held) const;
        // When it stops sounding, for a note held `held` seconds.
        double life(double held) const;
    };
    // A sound held this long without ending is taken to ring on for as long as it is held; a
    // release is followed this long at most.
    static constexpr double kLongestHeldSeconds = 4.0;
    static constexpr double kLongestSeconds = 16.0;
    static constexpr int kRate = 8000;

    // Loads the SoundFont as its own synthesiser (sharing the samples of any other); throws
    // SynthError as Synthesizer does.
    explicit NoteProbe(const SoundFontStack& soundFonts);

    // Starts a new song: puts every channel back as a new song finds it; what was measured is
    // kept.
    void reset();
    // Follows a song's events in order: channel settings and SysEx reach the probe's synthesiser
    // (the pedals and play modes do not: how long they hold a note is the caller's to count);
    // returns what a note-on costs, nothing for any other event. A note costs what the first note
    // of the song that lasts alike was measured to cost, played on a channel of its own: a
    // function of the song and the SoundFont, so that a song is planned alike alone or in a batch.
    Cost weigh(const MidiEvent& event);

private:
    struct Key {
        int font, bank, program, channel, key, velocity;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const;
    };
    struct Started {
        int voices = 0;
        int exclusiveClass = 0;
        bool endsAlone = false;
        // What decides how long the voices sound: their envelopes and sample modes, and for a
        // sample that is not looped which sample it is (its preset and key).
        std::uint64_t lasting = 0;
    };

    static constexpr int kChannels = 16;
    static constexpr int kDrumBank = 128;

    Key keyOf(int channel, int key, int velocity) const;
    Started start(int channel, int key, int velocity);
    Cost measure(const Key& note, const Started& started);
    // What happens to a sounding note after a while: nothing, a note-off, or the same key struck
    // again, which chokes a note of an exclusive class.
    enum class Then { Nothing, Off, Again };
    // Seconds from the note-on until its voices are gone (when struck again: until only the
    // second note's sound), with `then` after kHoldFrames; infinity when they outlast `longest`.
    double soundingSeconds(int channel, int key, int velocity, Then then, double longest);
    void silence(int channel);

    FluidInstance fluid_;
    // Voice counts by exact velocity (layers switch at any velocity), and how long notes sound,
    // as measured; in this song, how long each kind of lasting sounds, measured once for the
    // first note of that kind: most keys of a preset share a few zones, and the velocity moves the
    // noise floor a voice fades into only a little.
    std::unordered_map<Key, Started, KeyHash> started_;
    std::unordered_map<Key, Cost, KeyHash> lives_;
    std::unordered_map<std::uint64_t, Cost> lasting_;
};

} // namespace quillory::renderer
