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
    , timeline_(song_, prepared(synth, sampleRate))
    , tail_(sampleRate) {
}

int SongRenderer::percent() const {
    return timeline_.percent(finished_);
}

std::size_t SongRenderer::render(float* left, float* right, std::size_t maxFrames) {
    if (finished_ || maxFrames == 0)
        return 0;
    return timeline_.position() < timeline_.songFrames() ? renderSong(left, right, maxFrames)
                                                         : renderTail(left, right, maxFrames);
}

void SongRenderer::playDueEvents() {
    timeline_.takeBefore(timeline_.position() + 1,
                         [this](const MidiEvent& event, std::uint64_t) { synth_.play(event); });
}

// Renders up to the next event, plays it, and so on, so each event lands on its own frame.
std::size_t SongRenderer::renderSong(float* left, float* right, std::size_t frames) {
    std::size_t filled = 0;
    const std::uint64_t end = timeline_.songFrames();
    while (filled < frames && timeline_.position() < end) {
        playDueEvents();
        const std::uint64_t at = timeline_.position();
        std::uint64_t until = std::min<std::uint64_t>(end, at + (frames - filled));
        if (timeline_.pending())
            until = std::min(until, timeline_.eventFrame());
        const int count = static_cast<int>(until - at);
        synth_.render(left + filled, right + filled, count);
        filled += std::size_t(count);
        timeline_.advance(std::uint64_t(count));
    }
    // The song's last moment: the final note-offs sound in the tail, not after it.
    if (timeline_.position() >= end)
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
