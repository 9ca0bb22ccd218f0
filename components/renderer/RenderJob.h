// One MIDI-to-WAV render as a block API: the caller owns the loop, asking for a few frames at a
// time, and can report progress or stop between blocks. Events reach the synth at their exact
// sample frame; after the last one the song rings on until no voice sounds, for 3 s at most.
#pragma once

#include "components/renderer/MidiFile.h"
#include "components/renderer/Synthesizer.h"
#include "components/renderer/WavWriter.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace quillory::renderer {

class RenderJob {
public:
    static constexpr int kTailSeconds = 3;
    static constexpr std::size_t kMaxBlockFrames = 4096;

    // Prepares the synth and creates the output. Throws RenderError when the format is not
    // supported, the disk cannot hold the result, or the output cannot be created, and
    // SynthError when the synth cannot be set to the rate.
    RenderJob(MidiFile song, Synthesizer& synth, const std::filesystem::path& output,
              const WavFormat& format);

    // Renders and writes up to maxFrames (at most kMaxBlockFrames) more frames; returns how many,
    // 0 once the song and its tail are complete. Throws RenderError when writing fails.
    std::size_t render(std::size_t maxFrames);
    bool finished() const { return finished_; }
    // The whole percentage of the song rendered; 100 only once finished.
    int percent() const;
    std::uint64_t songFrames() const { return songFrames_; }
    std::uint64_t framesWritten() const { return writer_.framesWritten(); }
    const MidiFile& song() const { return song_; }

    // Completes the WAV with what was rendered so far; throws RenderError when that fails.
    void close() { writer_.close(); }
    // Closes and removes the output, for a render that failed.
    void discard() { writer_.discard(); }

    // The song's frames and the longest tail.
    static std::uint64_t maxOutputFrames(const MidiFile& song, int sampleRate);

private:
    static const std::filesystem::path& checked(const MidiFile& song, Synthesizer& synth,
                                                const std::filesystem::path& output,
                                                const WavFormat& format);
    std::size_t renderSong(std::size_t frames);
    std::size_t renderTail(std::size_t frames);
    void playDueEvents();

    MidiFile song_;
    Synthesizer& synth_;
    WavWriter writer_;
    MidiFile::Cursor cursor_;
    std::optional<MidiEvent> pending_;
    std::uint64_t pendingFrame_ = 0;
    std::uint64_t songFrames_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t tailFrames_ = 0;
    bool finished_ = false;
    std::vector<float> left_;
    std::vector<float> right_;
};

} // namespace quillory::renderer
