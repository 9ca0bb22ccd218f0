// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Where every note of a song really sounded, as a synthesiser played it: kept beside the render
// for the labels a transcription model is trained and tested with. FluidSynth starts and releases
// voices only at the start of one of its 64-frame blocks, so an event sent at frame f takes effect
// at the first block boundary at or after f (the synthesiser starts a song on a boundary); each
// note's times are those frames, as the synthesiser was told them, never a second reading of the
// MIDI file. How long it was held (the sustain and sostenuto pedals included) and when its voices
// fell silent are read from FluidSynth's voices block by block.
#pragma once

#include "components/midi/MidiFile.h"

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct _fluid_synth_t;

namespace quillory::renderer {

// FluidSynth's block: events and voice changes fall on multiples of it.
inline constexpr std::uint64_t kFluidBlock = 64;

// An event sent at `frame` takes effect here.
inline std::uint64_t effectiveFrame(std::uint64_t frame) {
    return (frame + kFluidBlock - 1) / kFluidBlock * kFluidBlock;
}

struct NoteLabel {
    static constexpr std::uint64_t kOpen = std::numeric_limits<std::uint64_t>::max();

    std::uint64_t onset = 0;         // the frame its voices started
    std::uint64_t keyOffset = kOpen; // the frame its key was let go
    std::uint64_t offset = kOpen;    // the frame it was let go for good, the pedals included
    std::uint64_t soundEnd = kOpen;  // the last frame its voices sounded (within their block)
    int channel = 0;                 // 0 to 15
    int key = 0;
    int velocity = 0;
    int bank = 0;
    int program = 0;
    double frequencyHz = 0; // under the channel's tuning and pitch bend at the onset
    // Empty for a note that sounded; else why not: "no preset", "no sample for the key and
    // velocity", "no free voice" (every voice of the synthesiser busy with notes that began in
    // the same block, which FluidSynth does not take), "voices stolen at once" (taken by a later
    // note before they sounded).
    std::string silent;
};

// Which MIDI Tuning Standard tuning each channel plays, followed from the messages FluidSynth
// acts on (a tuning program and bank chosen by RPN, an octave tuning sent to some channels), so
// that a note's frequency can be read from the tuning FluidSynth holds.
class ChannelTunings {
public:
    void follow(const MidiEvent& event);
    // The tuning's bank and program, or none for equal temperament.
    std::optional<std::pair<int, int>> of(int channel) const {
        return active_[std::size_t(channel)];
    }

private:
    static constexpr int kNoParameter = 0x7F;
    std::array<int, 16> rpnMsb_ = filled(kNoParameter);
    std::array<int, 16> rpnLsb_ = filled(kNoParameter);
    std::array<int, 16> bank_{};
    std::array<std::optional<std::pair<int, int>>, 16> active_{};

    static std::array<int, 16> filled(int value) {
        std::array<int, 16> all{};
        all.fill(value);
        return all;
    }
};

// The notes one synthesiser played, in the order it was told them.
class NoteLog {
public:
    // Every event as it is sent to the synthesiser at `frame`, before it is: note-offs, and the
    // messages that let go of a channel's keys or choose its tuning.
    void event(const MidiEvent& event, std::uint64_t frame);
    // A note-on sent at `frame`: its voices are those FluidSynth started just now.
    void noteOn(_fluid_synth_t* synth, int channel, int key, int velocity, std::uint64_t frame);
    // FluidSynth has just rendered the block that starts at `blockStart`: which notes are still
    // held, and which still sound.
    void blockRendered(_fluid_synth_t* synth, std::uint64_t blockStart);
    // The song ended after `frames` frames: notes still open end there.
    void close(std::uint64_t frames);

    const std::vector<NoteLabel>& notes() const { return notes_; }
    std::vector<NoteLabel> take() { return std::move(notes_); }

private:
    struct Sounding {
        std::size_t note;
        bool started = false; // a block has been rendered since its onset
    };
    double frequencyOf(_fluid_synth_t* synth, int channel, int key) const;
    void noteOff(int channel, int key, std::uint64_t frame);

    ChannelTunings tuning_;
    // The sustain and sostenuto pedals of each channel: FluidSynth leaves a voice they held marked
    // as held after they let it go.
    std::array<bool, 16> sustain_{};
    std::array<bool, 16> sostenuto_{};
    std::vector<std::uint64_t> releasedAt_; // per note: the block where no voice was held any more
    std::vector<NoteLabel> notes_;
    std::map<unsigned, Sounding> byVoiceId_; // the notes whose voices may still sound
    std::map<std::pair<int, int>, std::size_t> keyDown_;
    unsigned lastId_ = 0;
};

// The labels of several synthesisers of one song, in the order the notes began (then channel and
// key), as one list.
std::vector<NoteLabel> mergedLabels(std::vector<std::vector<NoteLabel>> lanes);

} // namespace quillory::renderer
