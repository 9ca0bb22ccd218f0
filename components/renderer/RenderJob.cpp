#include "components/renderer/RenderJob.h"

#include <algorithm>
#include <string>
#include <system_error>

namespace quillory::renderer {

namespace {

std::string megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20);
}

} // namespace

const WavFormat& RenderJob::checked(const WavFormat& format) {
    if (const std::string problem = format.problem(); !problem.empty())
        throw RenderError(problem);
    return format;
}

// A render is refused up front rather than left to fill the disk.
output::OutputFile RenderJob::checkedRoom(const MidiFile& song, output::OutputFile output,
                                          const WavFormat& format) {
    std::error_code ec;
    const std::filesystem::path& target = output.target();
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const std::filesystem::space_info space = std::filesystem::space(folder, ec);
    const std::uint64_t needed =
        SongRenderer::maxFrames(song, format.sampleRate) * format.bytesPerFrame() + 4096;
    // File systems that report no capacity at all (virtual or some network ones) are not judged.
    if (!ec && space.capacity > 0 && space.available < needed)
        throw RenderError("not enough free space for " + target.string() + ": it needs up to " +
                          megabytes(needed) + " MiB and " + megabytes(space.available) +
                          " MiB are free");
    return output;
}

RenderJob::RenderJob(MidiFile song, Synthesizer& synth, output::OutputFile output,
                     const WavFormat& format)
    : song_(std::move(song), synth, checked(format).sampleRate)
    , writer_(checkedRoom(song_.song(), std::move(output), format), format,
              SongRenderer::maxFrames(song_.song(), format.sampleRate))
    , left_(kMaxBlockFrames)
    , right_(kMaxBlockFrames) {
}

std::size_t RenderJob::render(std::size_t maxFrames) {
    const std::size_t done =
        song_.render(left_.data(), right_.data(), std::min(maxFrames, kMaxBlockFrames));
    if (done > 0)
        writer_.write(left_.data(), right_.data(), done);
    return done;
}

} // namespace quillory::renderer
