// One MIDI-to-WAV render as a block API: the caller owns the loop, asking for a few frames at a
// time, and can report progress or stop between blocks. Everything that can be refused is
// refused before the output file exists.
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

    // Prepares the synth and creates the output. Throws RenderError when the format is not
    // supported, the disk cannot hold the result, or the output cannot be created, and
    // SynthError when the synth cannot be set to the rate.
    RenderJob(MidiFile song, Synthesizer& synth, const std::filesystem::path& output,
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

    // Completes the WAV with what was rendered so far; throws RenderError when that fails.
    void close() { writer_.close(); }
    // Closes and removes the output, for a render that failed.
    void discard() { writer_.discard(); }

private:
    static const WavFormat& checked(const WavFormat& format);
    static const std::filesystem::path&
    checkedRoom(const MidiFile& song, const std::filesystem::path& output, const WavFormat& format);

    SongRenderer song_;
    WavWriter writer_;
    std::vector<float> left_;
    std::vector<float> right_;
};

} // namespace quillory::renderer
