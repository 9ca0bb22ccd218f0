// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/levelling/FloatIntermediate.h"

#include "components/audio/StereoLayout.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quillory::renderer {

namespace fs = std::filesystem;

namespace {

// Renders running at the same time in one process each take the next number.
std::atomic<unsigned> nextNumber{1};

// Large enough that the disk sees big writes, small enough not to matter in memory.
constexpr std::size_t kBufferBytes = 1 << 18;

// Every work file of the process: the room the others promise is counted, and each is made under
// the lock, so that two songs starting together never both count the same free bytes.
struct Ledger {
    std::mutex mutex;
    std::set<const FloatIntermediate*> files;
};

// Never destroyed: removeAll() may run while the program ends.
Ledger& ledger() {
    static Ledger* const instance = new Ledger;
    return *instance;
}

// A quota or a file size limit is the disk's "no room" for this process as much as a full disk.
bool isNoRoom(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

// Reserves the blocks, keeping the file's size to what is written; 0 when reserved, else why not
// (EOPNOTSUPP where the file system cannot reserve).
int reserveOnDisk(int fd, std::uint64_t bytes) {
#ifdef __linux__
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(bytes)) == 0)
            return 0;
        if (errno != EINTR)
            break;
    }
    return errno;
#else
    (void)fd;
    (void)bytes;
    return EOPNOTSUPP;
#endif
}

std::uint64_t deviceOf(const fs::path& folder) {
    struct stat info = {};
    return stat(folder.c_str(), &info) == 0 ? std::uint64_t(info.st_dev) : 0;
}

} // namespace

std::string megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20);
}

FloatIntermediate::FloatIntermediate(const fs::path& folder, std::uint64_t maxFrames,
                                     const RoomCheck& check) {
    Ledger& all = ledger();
    const std::lock_guard lock(all.mutex);
    device_ = deviceOf(folder);
    std::uint64_t promised = 0;
    for (const FloatIntermediate* other : all.files)
        promised += other->device_ == device_ ? other->promisedBytes() : 0;
    if (check)
        if (std::string problem = check(promised); !problem.empty())
            throw WorkRoomError(problem);
    create(folder);
    try {
        reserve(maxFrames, folder);
    } catch (...) {
        ::close(fd_);
        ::unlink(path_.c_str());
        throw;
    }
    pending_.reserve(kBufferBytes);
    all.files.insert(this);
}

void FloatIntermediate::create(const fs::path& folder) {
    // O_EXCL: never open a file that is already there, so two renders cannot share one.
    for (int attempt = 0; attempt < 1000 && fd_ < 0; ++attempt) {
        path_ = folder / ("__qlr_float_" + std::to_string(nextNumber++) + ".f32");
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ < 0)
        throw WorkFileError("cannot create " + path_.string() + " (" + std::strerror(errno) + ")");
}

void FloatIntermediate::reserve(std::uint64_t maxFrames, const fs::path& folder) {
    reservedBytes_ = maxFrames * kFrameBytes;
    if (reservedBytes_ == 0)
        return;
    const int error = reserveOnDisk(fd_, reservedBytes_);
    if (isNoRoom(error))
        throw WorkRoomError("there is not enough free space in the work folder " + folder.string() +
                            " for a copy of the song: it needs up to " + megabytes(reservedBytes_) +
                            " MiB (" + std::strerror(error) + ")");
    reserved_ = error == 0;
}

FloatIntermediate::~FloatIntermediate() {
    Ledger& all = ledger();
    const std::lock_guard lock(all.mutex);
    all.files.erase(this);
    ::close(fd_);
    std::error_code ec;
    fs::remove(path_, ec);
}

std::uint64_t FloatIntermediate::promisedBytes() const {
    if (reserved_)
        return 0;
    struct stat info = {};
    const std::uint64_t used = fstat(fd_, &info) == 0 ? std::uint64_t(info.st_blocks) * 512 : 0;
    return reservedBytes_ - std::min(reservedBytes_, used);
}

void FloatIntermediate::removeAll() {
    Ledger& all = ledger();
    const std::lock_guard lock(all.mutex);
    for (const FloatIntermediate* file : all.files)
        ::unlink(file->path_.c_str());
}

void FloatIntermediate::fail(const char* doing, int error) const {
    throw WorkFileError(std::string(doing) + " " + path_.string() + " failed (" +
                        (error ? std::strerror(error) : "the file ends early") + ")");
}

void FloatIntermediate::write(const float* left, const float* right, std::size_t frames) {
    interleaved_.resize(2 * frames);
    interleave(left, right, frames, interleaved_.data());
    writeInterleaved(interleaved_.data(), frames);
}

void FloatIntermediate::writeInterleaved(const float* stereo, std::size_t frames) {
    if (reading_)
        throw WorkFileError("writing " + path_.string() + " after reading it began");
    const auto* bytes = reinterpret_cast<const char*>(stereo);
    pending_.insert(pending_.end(), bytes, bytes + frames * kFrameBytes);
    frames_ += frames;
    if (!full() && pending_.size() >= kBufferBytes)
        flush();
}

// Writes what is pending. On a full disk, what did not fit stays pending, in memory.
void FloatIntermediate::flush() {
    std::size_t done = 0;
    int error = 0;
    while (done < pending_.size()) {
        const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n > 0)
            done += std::size_t(n);
        else if (n == 0 || errno != EINTR) {
            error = n == 0 ? ENOSPC : errno;
            break;
        }
    }
    bytesOnDisk_ += done;
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(done));
    if (error == 0)
        return;
    if (!isNoRoom(error))
        fail("writing", error);
    roomProblem_ = "writing " + path_.string() + " failed (" + std::strerror(error) + ")";
}

void FloatIntermediate::seek(std::uint64_t frame) {
    if (!reading_ && !full())
        flush();
    reading_ = true;
    framesRead_ = std::min(frame, frames_);
}

void FloatIntermediate::readBytes(std::uint64_t offset, char* to, std::size_t bytes) const {
    while (bytes > 0 && offset < bytesOnDisk_) {
        const std::size_t wanted =
            std::size_t(std::min<std::uint64_t>(bytes, bytesOnDisk_ - offset));
        const ssize_t n = ::pread(fd_, to, wanted, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail("reading", n < 0 ? errno : 0);
        to += n;
        offset += std::uint64_t(n);
        bytes -= std::size_t(n);
    }
    if (bytes > 0)
        std::memcpy(to, pending_.data() + (offset - bytesOnDisk_), bytes);
}

std::size_t FloatIntermediate::read(float* left, float* right, std::size_t maxFrames) {
    if (!reading_)
        rewind();
    const std::uint64_t remaining = frames_ - framesRead_;
    const std::size_t frames = remaining < maxFrames ? std::size_t(remaining) : maxFrames;
    interleaved_.resize(2 * frames);
    readBytes(framesRead_ * kFrameBytes, reinterpret_cast<char*>(interleaved_.data()),
              frames * kFrameBytes);
    deinterleave(interleaved_.data(), frames, left, right);
    framesRead_ += frames;
    return frames;
}

std::size_t FloatIntermediate::readInterleavedAt(std::uint64_t frame, float* stereo,
                                                 std::size_t maxFrames) const {
    const std::uint64_t remaining = frames_ - std::min(frame, frames_);
    const std::size_t frames = remaining < maxFrames ? std::size_t(remaining) : maxFrames;
    readBytes(frame * kFrameBytes, reinterpret_cast<char*>(stereo), frames * kFrameBytes);
    return frames;
}

} // namespace quillory::renderer
