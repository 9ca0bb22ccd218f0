// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Plays a MIDI song through the synth block by block into float stereo buffers: the caller owns
// the loop and decides where the audio goes (a WAV file, or straight into an encoder). Events
// reach the synth at their exact sample frame; after the last one the song rings on until it has
// died away (SongTail).
#pragma once

#include "components/audio/BlockSource.h"
#include "components/midi/MidiFile.h"
#include "components/synthesis/SongTail.h"
#include "components/synthesis/SongTimeline.h"
#include "components/synthesis/Synthesizer.h"

#include <cstddef>
#include <cstdint>

namespace quillory::renderer {

class SongRenderer final : public BlockSource {
public:
    // Resets the synth for the song at the given rate; throws SynthError when it cannot be set
    // to that rate. The synth serves this song alone until it is finished or dropped.
    SongRenderer(MidiFile song, Synthesizer& synth, int sampleRate);
    SongRenderer(const SongRenderer&) = delete;
    SongRenderer& operator=(const SongRenderer&) = delete;

    // Renders up to maxFrames more frames into left and right; returns how many, 0 only once the
    // song and its tail are complete.
    std::size_t render(float* left, float* right, std::size_t maxFrames) override;
    bool finished() const override { return finished_; }
    // The whole percentage of the song rendered; 100 only once finished.
    int percent() const override;
    std::uint64_t songFrames() const { return timeline_.songFrames(); }
    const MidiFile& song() const { return song_; }
    void raiseLaterBy(double boostDb) override { tail_.lowerFloorBy(boostDb); }

    // The song's frames and the longest tail: the most render() will ever give.
    static std::uint64_t maxFrames(const MidiFile& song, int sampleRate);

private:
    std::size_t renderSong(float* left, float* right, std::size_t frames);
    std::size_t renderTail(float* left, float* right, std::size_t frames);
    void playDueEvents();

    MidiFile song_;
    Synthesizer& synth_;
    SongTimeline timeline_;
    SongTail tail_;
    bool finished_ = false;
};

} // namespace quillory::renderer
