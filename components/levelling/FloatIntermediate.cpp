#include "components/levelling/FloatIntermediate.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

namespace quillory::renderer {

namespace {

// Renders running at the same time in one process each take the next number.
std::atomic<unsigned> nextNumber{1};

// Large enough that the disk sees big writes, small enough not to matter in memory.
constexpr std::size_t kBufferBytes = 1 << 18;

} // namespace

FloatIntermediate::FloatIntermediate(const std::filesystem::path& folder) {
    // "x": never open a file that is already there, so two renders cannot share one.
    for (int attempt = 0; attempt < 1000 && !file_; ++attempt) {
        path_ = folder / ("__qlr_float_" + std::to_string(nextNumber++) + ".f32");
        file_ = std::fopen(path_.string().c_str(), "w+bx");
        if (!file_ && errno != EEXIST)
            break;
    }
    if (!file_)
        throw WorkFileError("cannot create " + path_.string() + " (" + std::strerror(errno) + ")");
    std::setvbuf(file_, nullptr, _IOFBF, kBufferBytes);
}

FloatIntermediate::~FloatIntermediate() {
    if (file_)
        std::fclose(file_);
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

void FloatIntermediate::fail(const char* doing, int error) const {
    throw WorkFileError(std::string(doing) + " " + path_.string() + " failed (" +
                        (error ? std::strerror(error) : "the file ends early") + ")");
}

void FloatIntermediate::write(const float* left, const float* right, std::size_t frames) {
    interleaved_.resize(2 * frames);
    for (std::size_t i = 0; i < frames; ++i) {
        interleaved_[2 * i] = left[i];
        interleaved_[2 * i + 1] = right[i];
    }
    writeInterleaved(interleaved_.data(), frames);
}

void FloatIntermediate::writeInterleaved(const float* stereo, std::size_t frames) {
    if (reading_)
        throw WorkFileError("writing " + path_.string() + " after reading it began");
    errno = 0;
    if (std::fwrite(stereo, sizeof(float), 2 * frames, file_) != 2 * frames)
        fail("writing", errno ? errno : EIO);
    frames_ += frames;
}

void FloatIntermediate::seek(std::uint64_t frame) {
    errno = 0;
    if (!reading_ && std::fflush(file_) != 0)
        fail("writing", errno ? errno : EIO);
    reading_ = true;
    frame = std::min(frame, frames_);
    if (std::fseek(file_, long(frame * 2 * sizeof(float)), SEEK_SET) != 0)
        fail("reading", errno ? errno : EIO);
    framesRead_ = frame;
}

std::size_t FloatIntermediate::read(float* left, float* right, std::size_t maxFrames) {
    if (!reading_)
        rewind();
    const std::uint64_t remaining = frames_ - framesRead_;
    const std::size_t frames = remaining < maxFrames ? std::size_t(remaining) : maxFrames;
    interleaved_.resize(2 * frames);
    errno = 0;
    if (std::fread(interleaved_.data(), sizeof(float), 2 * frames, file_) != 2 * frames)
        fail("reading", std::ferror(file_) ? (errno ? errno : EIO) : 0);
    for (std::size_t i = 0; i < frames; ++i) {
        left[i] = interleaved_[2 * i];
        right[i] = interleaved_[2 * i + 1];
    }
    framesRead_ += frames;
    return frames;
}

} // namespace quillory::renderer
