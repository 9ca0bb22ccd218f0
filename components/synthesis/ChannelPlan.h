// Which MIDI channels a song keeps busy, and how to share them out between synthesisers. A
// synthesiser spends its time on sounding voices, so a channel's work is estimated before
// rendering as the time its notes sound, overlaps counted: each note from its start until its
// release (the sustain pedal holding it on), plus a short release, capped so that a note never
// let go does not outweigh the rest of the song. The channels are then split into groups of
// nearly equal work; the drum channel, often the busiest, ends up alone when it outweighs the
// share of one group.
//
// A channel that alone outweighs a group's share would leave the other synthesisers waiting for
// it, so its notes are split by key instead. A key's notes only meet on their own key (a new
// note ends the last one), except for the keys of one exclusive class (hi-hats: a closed one
// chokes an open one), which stay together, and except in mono, legato or portamento playing,
// where every note leads on from the last: such a channel stays whole.
#pragma once

#include "components/midi/MidiFile.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <vector>

namespace quillory::renderer {

// What a standard MIDI file can address: a channel message carries the channel in four bits.
inline constexpr int kMidiChannels = 16;

inline constexpr int kMidiKeys = 128;

struct ChannelGroups {
    // The group that plays each channel's notes; for a channel split by key, the group with most
    // of its work. Channels without notes belong to group 0.
    std::array<std::uint8_t, kMidiChannels> owner{};
    // The group that plays each key's notes, by channel.
    std::array<std::array<std::uint8_t, kMidiKeys>, kMidiChannels> keyOwner{};
    // The estimated work of each group, in voice-seconds.
    std::vector<double> loads;

    int count() const { return static_cast<int>(loads.size()); }
};

class ChannelPlan {
public:
    // A note sounds at most this long in the estimate, release included.
    static constexpr double kLongestNoteSeconds = 8.0;
    // What a released note is taken to ring on for; SoundFonts differ, this is a typical one.
    static constexpr double kReleaseSeconds = 0.3;

    // How many voices a note starts, and the exclusive class of its sound (0: none).
    struct NoteCost {
        NoteCost(int voices = 1, int exclusiveClass = 0)
            : voices(voices)
            , exclusiveClass(exclusiveClass) {}
        int voices;
        int exclusiveClass;
    };
    // Given every event of the song but meta events, in order; returns what a note-on starts
    // (what any other event returns is not used). A note's work is its time sounding times its
    // voices: a stereo or layered preset costs two or more.
    using VoiceCount = std::function<NoteCost(const MidiEvent&)>;

    // Walks the song's events once, counting a voice per note unless told otherwise. Throws
    // MidiError on a corrupt event, as rendering would.
    explicit ChannelPlan(const MidiFile& song, const VoiceCount& voices = {});

    // Estimated voice-seconds of the channel's notes; 0 for a channel without notes.
    double load(int channel) const { return loads_[std::size_t(channel)]; }
    std::uint64_t notes(int channel) const { return notes_[std::size_t(channel)]; }
    int channelsInUse() const;

    // Whether the channel's notes must stay on one synthesiser.
    bool whole(int channel) const { return whole_.test(std::size_t(channel)); }

    // Splits the channels with notes into at most `groups` groups (never more than there are such
    // channels, at least one), the busiest group as light as a greedy fill and a few exchanges
    // make it. A channel heavier than a group's share is split by key where it can be.
    ChannelGroups split(int groups) const;

private:
    struct Unit;
    void joinKeys(int channel, int key, int exclusiveClass);
    int keyRoot(int channel, int key) const;
    std::vector<Unit> unitsOf(int channel, double share, int groups) const;

    std::array<double, kMidiChannels> loads_{};
    std::array<std::uint64_t, kMidiChannels> notes_{};
    std::array<std::array<double, kMidiKeys>, kMidiChannels> keyLoads_{};
    // Keys that must share a synthesiser, as a forest per channel: each key's parent, a root its
    // own; and the first key met of each exclusive class.
    std::array<std::array<std::uint8_t, kMidiKeys>, kMidiChannels> keyParent_{};
    std::array<std::array<std::int16_t, kMidiKeys>, kMidiChannels> classKey_{};
    std::bitset<kMidiChannels> whole_;
};

} // namespace quillory::renderer
