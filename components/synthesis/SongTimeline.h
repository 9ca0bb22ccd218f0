// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A song's events in order with the frames they fall on, and how far the song has got: what every
// synthesis of a song walks, on one synthesiser, split over several, or as stems. The frames come
// from the tempo map (MidiFile::frameAt), so events never drift.
#pragma once

#include "components/midi/MidiFile.h"

#include <algorithm>
#include <cstdint>

namespace quillory::renderer {

class SongTimeline {
public:
    SongTimeline(const MidiFile& song, int sampleRate)
        : song_(&song)
        , sampleRate_(sampleRate)
        , cursor_(song)
        , songFrames_(song.frameAt(song.endTime(), sampleRate)) {
        pop();
    }

    // The frames of the song up to its last event; the tail comes after them.
    std::uint64_t songFrames() const { return songFrames_; }
    // Whether an event is still to come, which one, and the frame it falls on.
    bool pending() const { return pending_; }
    const MidiEvent& event() const { return event_; }
    std::uint64_t eventFrame() const { return eventFrame_; }
    // Moves on to the following event.
    void pop() {
        pending_ = cursor_.next(event_);
        if (pending_)
            eventFrame_ = song_->frameAt(event_.time, sampleRate_);
    }
    // The events due before `frame`, each handed to `use` with its frame, in order.
    template <typename Use>
    void takeBefore(std::uint64_t frame, Use&& use) {
        for (; pending_ && eventFrame_ < frame; pop())
            use(event_, eventFrame_);
    }

    // Frames of the song given out so far (the tail not counted).
    std::uint64_t position() const { return position_; }
    void advance(std::uint64_t frames) { position_ = std::min(songFrames_, position_ + frames); }
    // The whole percentage of the song given out; 100 only once finished.
    int percent(bool finished) const {
        if (finished)
            return 100;
        if (songFrames_ == 0)
            return 99;
        return int(std::min<std::uint64_t>(99, position_ * 100 / songFrames_));
    }

private:
    const MidiFile* song_;
    int sampleRate_;
    MidiFile::Cursor cursor_;
    MidiEvent event_;
    bool pending_ = false;
    std::uint64_t eventFrame_ = 0;
    std::uint64_t songFrames_;
    std::uint64_t position_ = 0;
};

} // namespace quillory::renderer
