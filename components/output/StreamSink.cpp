// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/output/StreamSink.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace quillory::output {

namespace {

// A WAV header of ours is under a kilobyte: fmt, and LIST/INFO with three short texts.
constexpr std::size_t kMostWavHeader = 1 << 16;
// STREAMINFO's body, after "fLaC" and the block's own header: what libFLAC fills in at the end.
constexpr std::uint64_t kStreamInfoStart = 8;
constexpr std::uint64_t kStreamInfoEnd = 42;

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void putLe32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(value >> (8 * i));
}

StreamSink& sink(void* self) {
    return *static_cast<StreamSink*>(self);
}

} // namespace

StreamSink::StreamSink(int fd, Kind kind, int frameBytes)
    : fd_(fd)
    , kind_(kind)
    , frameBytes_(frameBytes)
    , headerSent_(kind != Kind::Wav) {
}

StreamSink::~StreamSink() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::int64_t StreamSink::length(void* self) {
    return std::int64_t(sink(self).end_);
}

std::int64_t StreamSink::seek(std::int64_t offset, int whence, void* self) {
    StreamSink& s = sink(self);
    std::int64_t target = offset;
    if (whence == SEEK_CUR)
        target += std::int64_t(s.position_);
    else if (whence == SEEK_END)
        target += std::int64_t(s.end_);
    if (target < 0)
        return -1;
    s.position_ = std::uint64_t(target);
    return target;
}

// Nothing written can be read back from a stream; libsndfile never asks while it writes.
std::int64_t StreamSink::read(void*, std::int64_t, void*) {
    return 0;
}

std::int64_t StreamSink::tell(void* self) {
    return std::int64_t(sink(self).position_);
}

std::int64_t StreamSink::write(const void* bytes, std::int64_t count, void* self) {
    StreamSink& s = sink(self);
    const std::int64_t put = s.put(static_cast<const std::uint8_t*>(bytes), count);
    if (put > 0) {
        s.position_ += std::uint64_t(put);
        s.end_ = std::max(s.end_, s.position_);
    }
    return put;
}

std::int64_t StreamSink::put(const std::uint8_t* bytes, std::int64_t count) {
    if (!failure_.empty() || count <= 0)
        return 0;
    const auto size = std::size_t(count);
    if (!headerSent_) {
        if (const std::optional<std::size_t> data = wavDataStart();
            data && position_ == *data && header_.size() == *data) {
            if (!releaseWavHeader(*data))
                return 0;
        } else {
            if (position_ + size > kMostWavHeader)
                return fail("the WAV header did not end within " + std::to_string(kMostWavHeader) +
                            " bytes");
            header_.resize(std::max<std::size_t>(header_.size(), position_ + size));
            std::memcpy(header_.data() + position_, bytes, size);
            return count;
        }
    }
    if (position_ == sent_)
        return send(bytes, size) ? count : 0;
    if (position_ < sent_)
        return rewrite(bytes, size) ? count : 0;
    return fail("libsndfile skipped ahead in a stream, which cannot leave a gap");
}

// What is written again over what the stream has taken: a WAV's header at the close, which must
// be what went out when the sizes were known; FLAC's late STREAMINFO fields, which stay unknown.
bool StreamSink::rewrite(const std::uint8_t* bytes, std::size_t count) {
    const std::uint64_t end = position_ + count;
    if (kind_ == Kind::Flac && position_ >= kStreamInfoStart && end <= kStreamInfoEnd)
        return true;
    if (kind_ == Kind::Wav && end <= header_.size()) {
        if (!exact_ || std::memcmp(header_.data() + position_, bytes, count) == 0)
            return true;
        fail("the WAV header completed at the end differs from the one sent at the start");
        return false;
    }
    fail("libsndfile went back " + std::to_string(sent_ - position_) +
         " bytes in a stream, which cannot be rewound");
    return false;
}

// Where the data chunk's audio begins in the header held back: after RIFF, WAVE and each chunk
// in turn, up to "data" and its size. Nothing while the header is not complete so far.
std::optional<std::size_t> StreamSink::wavDataStart() const {
    if (header_.size() < 12 || std::memcmp(header_.data(), "RIFF", 4) != 0 ||
        std::memcmp(header_.data() + 8, "WAVE", 4) != 0)
        return std::nullopt;
    for (std::size_t at = 12; at + 8 <= header_.size();) {
        if (std::memcmp(header_.data() + at, "data", 4) == 0)
            return at + 8;
        const std::uint32_t size = le32(header_.data() + at + 4);
        at += 8 + std::size_t(size) + (size & 1);
    }
    return std::nullopt;
}

bool StreamSink::releaseWavHeader(std::size_t dataStart) {
    std::uint32_t riff = kStreamingSize;
    std::uint32_t data = kStreamingSize;
    if (expected_) {
        // A chunk of an odd size is followed by a pad byte, which the RIFF size counts.
        const std::uint64_t dataBytes = *expected_ * std::uint64_t(frameBytes_);
        const std::uint64_t riffBytes = dataStart - 8 + dataBytes + (dataBytes & 1);
        exact_ = riffBytes < kStreamingSize;
        if (exact_) {
            riff = std::uint32_t(riffBytes);
            data = std::uint32_t(dataBytes);
        }
    }
    putLe32(header_.data() + 4, riff);
    putLe32(header_.data() + dataStart - 4, data);
    // A float WAV's fact chunk counts its frames too.
    for (std::size_t at = 12; exact_ && at + 12 <= dataStart;) {
        const std::uint32_t size = le32(header_.data() + at + 4);
        if (std::memcmp(header_.data() + at, "fact", 4) == 0 && size >= 4)
            putLe32(header_.data() + at + 8, std::uint32_t(*expected_));
        at += 8 + std::size_t(size) + (size & 1);
    }
    headerSent_ = true;
    position_ = 0;
    if (!send(header_.data(), header_.size()))
        return false;
    position_ = dataStart;
    return true;
}

bool StreamSink::send(const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = ::write(fd_, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            fail(written < 0 ? std::strerror(errno) : "the stream took nothing");
            return false;
        }
        bytes += written;
        count -= std::size_t(written);
        sent_ += std::uint64_t(written);
    }
    return true;
}

std::int64_t StreamSink::fail(std::string why) {
    if (failure_.empty())
        failure_ = std::move(why);
    return 0;
}

} // namespace quillory::output
