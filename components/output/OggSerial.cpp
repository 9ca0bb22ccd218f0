// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/output/OggSerial.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace quillory::output {

namespace {

constexpr std::size_t kHeaderBytes = 27;
constexpr std::size_t kSerialAt = 14;
constexpr std::size_t kChecksumAt = 22;
constexpr std::size_t kSegmentsAt = 26;

// Ogg's CRC-32: polynomial 0x04C11DB7, not reflected, starting from 0, no final inversion.
std::uint32_t oggChecksum(const std::uint8_t* bytes, std::size_t size) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = (crc << 8) ^ table[((crc >> 24) ^ bytes[i]) & 0xFF];
    return crc;
}

void putLittle32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = std::uint8_t(value >> (8 * i));
}

bool readAt(int fd, std::uint8_t* into, std::size_t size, off_t at) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, into, size, at);
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            return false;
        }
        into += got;
        size -= std::size_t(got);
        at += got;
    }
    return true;
}

bool writeAt(int fd, const std::uint8_t* from, std::size_t size, off_t at) {
    while (size > 0) {
        const ssize_t put = ::pwrite(fd, from, size, at);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        from += put;
        size -= std::size_t(put);
        at += put;
    }
    return true;
}

} // namespace

std::string setOggSerial(const std::filesystem::path& file, std::uint32_t serial) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    std::string failure;
    std::vector<std::uint8_t> page;
    for (off_t at = 0;;) {
        std::uint8_t header[kHeaderBytes];
        if (!readAt(fd, header, kHeaderBytes, at))
            break; // the end of the file
        if (std::memcmp(header, "OggS", 4) != 0) {
            failure = "no Ogg page where one should begin";
            break;
        }
        const std::size_t segments = header[kSegmentsAt];
        page.assign(header, header + kHeaderBytes);
        page.resize(kHeaderBytes + segments);
        if (!readAt(fd, page.data() + kHeaderBytes, segments, at + off_t(kHeaderBytes))) {
            failure = "an Ogg page is cut short";
            break;
        }
        std::size_t body = 0;
        for (std::size_t i = 0; i < segments; ++i)
            body += page[kHeaderBytes + i];
        const std::size_t headerSize = page.size();
        page.resize(headerSize + body);
        if (!readAt(fd, page.data() + headerSize, body, at + off_t(headerSize))) {
            failure = "an Ogg page is cut short";
            break;
        }
        putLittle32(page.data() + kSerialAt, serial);
        putLittle32(page.data() + kChecksumAt, 0);
        putLittle32(page.data() + kChecksumAt, oggChecksum(page.data(), page.size()));
        if (!writeAt(fd, page.data(), headerSize, at)) {
            failure = std::strerror(errno);
            break;
        }
        at += off_t(page.size());
    }
    if (::close(fd) != 0 && failure.empty())
        failure = std::strerror(errno);
    return failure;
}

} // namespace quillory::output
