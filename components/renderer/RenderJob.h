// One MIDI-to-WAV render as a block API: the caller owns the loop, asking for a few frames at a
// time, and can report progress or stop between blocks. Everything that can be refused is
// refused before the output file exists, and the WAV reaches its target only when closed.
#pragma once

#include "components/renderer/SongRenderer.h"
#include "components/renderer/WavWriter.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace quillory::renderer {

class RenderJob {
public:
    static constexpr std::size_t kMaxBlockFrames = 4096;

    // Prepares the synth and starts the output beside its target. Throws RenderError when the
    // format is not supported, the disk cannot hold the result, or the output cannot be created,
    // and SynthError when the synth cannot be set to the rate.
    RenderJob(MidiFile song, Synthesizer& synth, output::OutputFile output,
              const WavFormat& format);

    // Renders and writes up to maxFrames (at most kMaxBlockFrames) more frames; returns how many,
    // 0 once the song and its tail are complete. Throws RenderError when writing fails.
    std::size_t render(std::size_t maxFrames);
    bool finished() const { return song_.finished(); }
    // The whole percentage of the song rendered; 100 only once finished.
    int percent() const { return song_.percent(); }
    std::uint64_t songFrames() const { return song_.songFrames(); }
    std::uint64_t framesWritten() const { return writer_.framesWritten(); }
    const MidiFile& song() const { return song_.song(); }

    // Completes the WAV with what was rendered so far and puts it at the target; throws
    // RenderError when that fails. A job dropped without close() leaves the target as it was.
    void close() { writer_.close(); }
    // Drops the output, for a render that failed or was cancelled.
    void discard() { writer_.discard(); }

private:
    static const WavFormat& checked(const WavFormat& format);
    static output::OutputFile checkedRoom(const MidiFile& song, output::OutputFile output,
                                          const WavFormat& format);

    SongRenderer song_;
    WavWriter writer_;
    std::vector<float> left_;
    std::vector<float> right_;
};

} // namespace quillory::renderer
