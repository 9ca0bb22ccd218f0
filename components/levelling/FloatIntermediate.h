// The song's synthesised audio, kept in 32-bit float between the two passes of a loudness-
// levelled render: the first pass writes it block by block while the meter listens, the output
// pass reads it back block by block, applies the one gain and writes the chosen format. So the
// song is synthesised once, and nothing is lost to clipping or rounding before the gain is known.
//
// The file is raw interleaved stereo float32 in the machine's own byte order, without a header:
// it is private to this process, lives only for one render and is read back on the same machine.
// A WAV container would add nothing but a size limit (4 GiB, which a long song at a high rate
// passes) and a conversion layer; the frame count is kept here, not in the file.
#pragma once

#include "components/output/WavWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace quillory::renderer {

// A failure of the work file itself (a full work folder, say), as opposed to the target's.
class WorkFileError : public RenderError {
public:
    using RenderError::RenderError;
};

class FloatIntermediate {
public:
    // Creates a new file of its own in folder (an instance's private work folder). Every failure
    // is a WorkFileError (a RenderError) naming the file.
    explicit FloatIntermediate(const std::filesystem::path& folder);
    // Closes and removes the file.
    ~FloatIntermediate();
    FloatIntermediate(const FloatIntermediate&) = delete;
    FloatIntermediate& operator=(const FloatIntermediate&) = delete;

    // Appends frames. Throws naming the file when they cannot be written (a full disk, for
    // example); only before rewind().
    void write(const float* left, const float* right, std::size_t frames);
    // The same for frames given as interleaved stereo.
    void writeInterleaved(const float* stereo, std::size_t frames);
    // Ends writing (throws when the last frames cannot be written) and starts reading from the
    // first frame; may be called again to read everything once more.
    void rewind() { seek(0); }
    // Ends writing like rewind(), and goes on reading from the given frame (at most frames()).
    void seek(std::uint64_t frame);
    // Reads up to maxFrames of the next frames; returns how many, 0 at the end. Throws naming
    // the file when it cannot be read or holds fewer frames than were written.
    std::size_t read(float* left, float* right, std::size_t maxFrames);

    std::uint64_t frames() const { return frames_; }
    const std::filesystem::path& path() const { return path_; }

private:
    [[noreturn]] void fail(const char* doing, int error) const;

    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
    std::vector<float> interleaved_;
    std::uint64_t frames_ = 0;
    std::uint64_t framesRead_ = 0;
    bool reading_ = false;
};

} // namespace quillory::renderer
