// Writes the rendered audio as a WAV file through libsndfile: 8-bit (unsigned, as WAV requires)
// or 16-bit PCM, mono (an average of the two synth channels, taken before quantising) or stereo,
// reduced from float with TPDF dither (DitherQuantizer), never by plain rounding. A plain PCM WAV
// whenever the result fits one; a render that might pass 4 GiB is written as RF64, which can
// describe it. The file appears at its target only when it is closed: until then it is written
// beside it. Title, copyright and software can go into the file's LIST/INFO chunk (INAM, ICOP,
// ISFT).
#pragma once

#include "components/audio/Dither.h"
#include "components/midi/TagText.h"
#include "components/output/OutputFile.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <vector>

struct sf_private_tag;

namespace quillory::renderer {

class RenderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct WavFormat {
    int sampleRate = 44100;
    int bitsPerSample = 16;
    int channels = 2;

    // Empty when the format can be written, otherwise the reason it cannot.
    std::string problem() const;
    std::uint64_t bytesPerFrame() const { return std::uint64_t(channels) * (bitsPerSample / 8); }
};

class WavWriter {
public:
    // Starts the file for at most maxFrames frames; throws RenderError naming the target when it
    // cannot. A file already at the target stays until close() replaces it.
    WavWriter(output::OutputFile target, const WavFormat& format, std::uint64_t maxFrames);
    // A writer that was not closed leaves the target as it was.
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Puts the non-empty texts (cleaned again with cleanTagText) into the file's INFO chunk;
    // libsndfile appends its own name and version to the software text ("... (libsndfile-1.2.0)").
    // Only before the first write: throws std::logic_error after it; the first write throws
    // RenderError when libsndfile refuses a text. A file closed without audio has no texts.
    void setTags(const tags::TextTags& tags);
    // Throws RenderError when the data cannot be written (a full disk, for example). Samples
    // beyond full scale are clipped.
    void write(const float* left, const float* right, std::size_t frames);
    // The same for frames given as interleaved stereo.
    void writeInterleaved(const float* stereo, std::size_t frames);
    // Flushes what was written so far to disk, so that close() has little left to wait for;
    // throws RenderError when that fails.
    void sync();
    // Completes the header and moves the file onto the target; throws RenderError when that fails.
    void close(output::Flush flush = output::Flush::First);
    // Drops what was written, for a render that failed or was cancelled.
    void discard();
    std::uint64_t framesWritten() const { return frames_; }
    bool rf64() const { return rf64_; }
    // Samples that met full scale so far.
    std::uint64_t clipped() const { return quantizer_.clipped(); }

private:
    void writeTags();
    void writeSamples(const float* samples, std::size_t frames);

    output::OutputFile output_;
    std::filesystem::path path_; // the target, as messages name it
    WavFormat format_;
    sf_private_tag* file_ = nullptr;
    tags::TextTags tags_;
    DitherQuantizer quantizer_;
    std::vector<float> interleaved_;
    std::vector<std::int16_t> quantized_;
    std::uint64_t frames_ = 0;
    bool rf64_ = false;
};

} // namespace quillory::renderer
