#include "components/renderer/RenderJob.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <system_error>

namespace quillory::renderer {

namespace {

// FluidSynth's own block: the tail is rendered in these so it stops soon after the sound does.
constexpr std::size_t kTailStep = 64;
// Below half of the smallest 16-bit step, a sample is written as 0.
constexpr float kSilence = 1.0f / 65536.0f;

bool silent(const float* left, const float* right, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) {
        if (std::fabs(left[i]) >= kSilence || std::fabs(right[i]) >= kSilence)
            return false;
    }
    return true;
}

std::string megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20);
}

} // namespace

std::uint64_t RenderJob::maxOutputFrames(const MidiFile& song, int sampleRate) {
    return song.frameAt(song.endTime(), sampleRate) + std::uint64_t(kTailSeconds) * sampleRate;
}

// Everything that can be refused is refused here, before the output file exists.
const std::filesystem::path& RenderJob::checked(const MidiFile& song, Synthesizer& synth,
                                                const std::filesystem::path& output,
                                                const WavFormat& format) {
    if (const std::string problem = format.problem(); !problem.empty())
        throw RenderError(problem);
    synth.prepare(format.sampleRate);
    std::error_code ec;
    const std::filesystem::path folder =
        output.has_parent_path() ? output.parent_path() : std::filesystem::path(".");
    const std::filesystem::space_info space = std::filesystem::space(folder, ec);
    const std::uint64_t needed =
        maxOutputFrames(song, format.sampleRate) * format.bytesPerFrame() + 4096;
    // File systems that report no capacity at all (virtual or some network ones) are not judged.
    if (!ec && space.capacity > 0 && space.available < needed)
        throw RenderError("not enough free space for " + output.string() + ": it needs up to " +
                          megabytes(needed) + " MiB and " + megabytes(space.available) +
                          " MiB are free");
    return output;
}

RenderJob::RenderJob(MidiFile song, Synthesizer& synth, const std::filesystem::path& output,
                     const WavFormat& format)
    : song_(std::move(song))
    , synth_(synth)
    , writer_(checked(song_, synth, output, format), format,
              maxOutputFrames(song_, format.sampleRate))
    , cursor_(song_)
    , songFrames_(song_.frameAt(song_.endTime(), format.sampleRate))
    , left_(kMaxBlockFrames)
    , right_(kMaxBlockFrames) {
    MidiEvent event;
    if (cursor_.next(event)) {
        pending_ = event;
        pendingFrame_ = song_.frameAt(event.time, format.sampleRate);
    }
}

int RenderJob::percent() const {
    if (finished_)
        return 100;
    if (songFrames_ == 0)
        return 99;
    return static_cast<int>(std::min<std::uint64_t>(99, position_ * 100 / songFrames_));
}

std::size_t RenderJob::render(std::size_t maxFrames) {
    const std::size_t frames = std::min(maxFrames, kMaxBlockFrames);
    if (finished_ || frames == 0)
        return 0;
    const std::size_t done = position_ < songFrames_ ? renderSong(frames) : renderTail(frames);
    writer_.write(left_.data(), right_.data(), done);
    return done;
}

void RenderJob::playDueEvents() {
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
std::size_t RenderJob::renderSong(std::size_t frames) {
    std::size_t filled = 0;
    while (filled < frames && position_ < songFrames_) {
        playDueEvents();
        std::uint64_t until = std::min<std::uint64_t>(songFrames_, position_ + (frames - filled));
        if (pending_)
            until = std::min(until, pendingFrame_);
        const int count = static_cast<int>(until - position_);
        synth_.render(left_.data() + filled, right_.data() + filled, count);
        filled += std::size_t(count);
        position_ = until;
    }
    // The song's last moment: the final note-offs sound in the tail, not after it.
    if (position_ >= songFrames_)
        playDueEvents();
    return filled;
}

std::size_t RenderJob::renderTail(std::size_t frames) {
    playDueEvents();
    const std::uint64_t cap = std::uint64_t(kTailSeconds) * synth_.sampleRate();
    std::size_t filled = 0;
    while (filled < frames && !finished_) {
        const std::size_t step =
            std::min<std::uint64_t>({kTailStep, frames - filled, cap - tailFrames_});
        float* left = left_.data() + filled;
        float* right = right_.data() + filled;
        synth_.render(left, right, static_cast<int>(step));
        filled += step;
        tailFrames_ += step;
        finished_ = tailFrames_ >= cap || (!synth_.voicesSounding() && silent(left, right, step));
    }
    return filled;
}

} // namespace quillory::renderer
