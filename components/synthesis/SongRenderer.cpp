// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/SongRenderer.h"

#include <algorithm>
#include <cmath>

namespace quillory::renderer {

namespace {

int prepared(Synthesizer& synth, int sampleRate) {
    synth.prepare(sampleRate);
    return sampleRate;
}

} // namespace

std::uint64_t SongRenderer::maxFrames(const MidiFile& song, int sampleRate) {
    return song.frameAt(song.endTime(), sampleRate) + SongTail::longest(sampleRate);
}

SongRenderer::SongRenderer(MidiFile song, Synthesizer& synth, int sampleRate)
    : song_(std::move(song))
    , synth_(synth)
    , cursor_(song_)
    , songFrames_(song_.frameAt(song_.endTime(), prepared(synth, sampleRate)))
    , tail_(sampleRate) {
    MidiEvent event;
    if (cursor_.next(event)) {
        pending_ = event;
        pendingFrame_ = song_.frameAt(event.time, sampleRate);
    }
}

int SongRenderer::percent() const {
    if (finished_)
        return 100;
    if (songFrames_ == 0)
        return 99;
    return static_cast<int>(std::min<std::uint64_t>(99, position_ * 100 / songFrames_));
}

std::size_t SongRenderer::render(float* left, float* right, std::size_t maxFrames) {
    if (finished_ || maxFrames == 0)
        return 0;
    return position_ < songFrames_ ? renderSong(left, right, maxFrames)
                                   : renderTail(left, right, maxFrames);
}

void SongRenderer::playDueEvents() {
    while (pending_ && pendingFrame_ <= position_) {
        synth_.play(*pending_);
        MidiEvent event;
        if (cursor_.next(event)) {
            pending_ = event;
            pendingFrame_ = song_.frameAt(event.time, synth_.sampleRate());
        } else {
            pending_.reset();
        }
    }
}

// Renders up to the next event, plays it, and so on, so each event lands on its own frame.
std::size_t SongRenderer::renderSong(float* left, float* right, std::size_t frames) {
    std::size_t filled = 0;
    while (filled < frames && position_ < songFrames_) {
        playDueEvents();
        std::uint64_t until = std::min<std::uint64_t>(songFrames_, position_ + (frames - filled));
        if (pending_)
            until = std::min(until, pendingFrame_);
        const int count = static_cast<int>(until - position_);
        synth_.render(left + filled, right + filled, count);
        filled += std::size_t(count);
        position_ = until;
    }
    // The song's last moment: the final note-offs sound in the tail, not after it.
    if (position_ >= songFrames_)
        playDueEvents();
    return filled;
}

std::size_t SongRenderer::renderTail(float* left, float* right, std::size_t frames) {
    playDueEvents();
    std::size_t filled = 0;
    while (filled < frames && !tail_.over()) {
        const std::size_t step = tail_.nextStep(frames - filled);
        synth_.render(left + filled, right + filled, static_cast<int>(step));
        filled += tail_.take(left + filled, right + filled, step);
    }
    finished_ = tail_.over();
    return filled;
}

} // namespace quillory::renderer
