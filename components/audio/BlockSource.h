// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A song as float stereo blocks, whatever makes them: one synthesiser playing the MIDI file
// (SongRenderer), several of them mixed, or the loudness pass that hands a synthesised song back
// levelled (LevelledSource). The caller owns the loop and decides where the blocks go (a WAV
// file, an MP3 stream), so each consumer works with any of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillory::renderer {

// The frames every stage of a render hands on at a time: the synthesisers' blocks, the work file
// read back, the writer's and the encoder's. 4096 frames (93 ms at 44.1 kHz) is a whole number of
// FluidSynth's 64-frame blocks, small enough that a stop waits at most one of them, and large
// enough that handing a block between threads costs nothing beside synthesising it.
inline constexpr std::size_t kBlockFrames = 4096;

class BlockSource {
public:
    virtual ~BlockSource() = default;

    // Puts up to maxFrames more frames into left and right and returns how many. A source that
    // works in passes may return 0 while a pass yields nothing yet; finished() says when the
    // song is complete.
    virtual std::size_t render(float* left, float* right, std::size_t maxFrames) = 0;
    virtual bool finished() const = 0;
    // The whole percentage of the work done; 100 only once finished.
    virtual int percent() const = 0;
    // The song will be raised afterwards by up to boostDb: a source that ends it once the sound
    // has died away judges that on a floor as much lower. Others ignore it.
    virtual void raiseLaterBy(double /*boostDb*/) {}
    // Processor seconds spent so far on threads of the source's own (the synthesisers of a
    // split song, a measuring thread), beyond those of the caller's thread.
    virtual double threadSeconds() const { return 0; }
};

} // namespace quillory::renderer
