// Which MIDI channels a song keeps busy, and how to share them out between synthesisers. A
// synthesiser spends its time on sounding voices, so a channel's work is estimated before
// rendering as the time its notes sound, overlaps counted: each note from its start until its
// release (the sustain pedal holding it on), plus a short release, capped so that a note never
// let go does not outweigh the rest of the song. The channels are then split into groups of
// nearly equal work; the drum channel, often the busiest, ends up alone when it outweighs the
// share of one group.
#pragma once

#include "components/renderer/MidiFile.h"

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace quillory::renderer {

// What a standard MIDI file can address: a channel message carries the channel in four bits.
inline constexpr int kMidiChannels = 16;

struct ChannelGroups {
    // The group that plays each channel's notes. Channels without notes belong to group 0.
    std::array<std::uint8_t, kMidiChannels> owner{};
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

    // Given every event of the song but meta events, in order; returns how many voices a note-on
    // starts (what any other event returns is not used). A note's work is its time sounding
    // times its voices: a stereo or layered preset costs two or more.
    using VoiceCount = std::function<int(const MidiEvent&)>;

    // Walks the song's events once, counting a voice per note unless told otherwise. Throws
    // MidiError on a corrupt event, as rendering would.
    explicit ChannelPlan(const MidiFile& song, const VoiceCount& voices = {});

    // Estimated voice-seconds of the channel's notes; 0 for a channel without notes.
    double load(int channel) const { return loads_[std::size_t(channel)]; }
    std::uint64_t notes(int channel) const { return notes_[std::size_t(channel)]; }
    int channelsInUse() const;

    // Splits the channels with notes into at most `groups` groups (never more than there are such
    // channels, at least one), the busiest group as light as a greedy fill and a few exchanges
    // make it.
    ChannelGroups split(int groups) const;

private:
    std::array<double, kMidiChannels> loads_{};
    std::array<std::uint64_t, kMidiChannels> notes_{};
};

} // namespace quillory::renderer
