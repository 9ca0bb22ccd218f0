// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/StandardStreams.h"

#include "platform/ShownName.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace convert {

namespace fs = std::filesystem;
using quillory::conversion::ConversionError;
using quillory::conversion::Interrupted;
using quillory::conversion::ProgressFn;
using quillory::renderer::MidiError;
using quillory::renderer::MidiFile;

namespace {

constexpr std::size_t kHeadBytes = 12;
constexpr std::size_t kCopyBlock = 1 << 20;
// How often a wait for more input looks whether the conversion is to stop (Ctrl+C, --timeout).
constexpr int kWaitMs = 100;

bool startsWith(std::span<const std::uint8_t> bytes, std::size_t at, const char* text) {
    const std::size_t size = std::strlen(text);
    return bytes.size() >= at + size && std::memcmp(bytes.data() + at, text, size) == 0;
}

std::string neitherMidiNorWav(std::span<const std::uint8_t> head) {
    const std::string begins(head.begin(), head.begin() + std::min<std::size_t>(head.size(), 4));
    return std::string(kStandardInputName) +
           " holds neither MIDI (beginning with MThd, or RIFF...RMID) nor WAV (RIFF...WAVE or "
           "RF64...WAVE); it begins with \"" +
           begins + "\"";
}

} // namespace

bool isStandardStream(const fs::path& path) {
    return path.native() == "-";
}

std::string shownInput(const fs::path& input) {
    return isStandardStream(input) ? kStandardInputName : platform::ShownName(input);
}

std::string shownOutput(const fs::path& output) {
    return isStandardStream(output) ? kStandardOutputName : platform::ShownName(output);
}

std::optional<InputType> contentType(std::span<const std::uint8_t> head) {
    if (startsWith(head, 0, "MThd") || (startsWith(head, 0, "RIFF") && startsWith(head, 8, "RMID")))
        return InputType::Midi;
    if ((startsWith(head, 0, "RIFF") || startsWith(head, 0, "RF64")) && startsWith(head, 8, "WAVE"))
        return InputType::Wav;
    return std::nullopt;
}

StandardInput::StandardInput(int fd)
    : fd_(fd) {
    if (::isatty(fd) == 1) {
        error_ = "the input - is standard input, which is a terminal here: pipe a MIDI or WAV "
                 "file into it, or name the file";
        return;
    }
    head_.resize(kHeadBytes);
    std::size_t got = 0;
    try {
        while (got < kHeadBytes)
            if (const std::size_t n = next(head_.data() + got, kHeadBytes - got, {}); n > 0)
                got += n;
            else
                break;
    } catch (const ConversionError& failed) {
        error_ = failed.what();
        return;
    }
    head_.resize(got);
    type_ = contentType(head_);
    if (head_.empty())
        error_ = std::string("the input - is standard input, which is empty");
    else if (!type_)
        error_ = neitherMidiNorWav(head_);
}

std::size_t StandardInput::next(std::uint8_t* into, std::size_t size, const ProgressFn& progress) {
    for (;;) {
        pollfd ready{fd_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, kWaitMs);
        if (polled == 0 || (polled < 0 && errno == EINTR)) {
            if (progress && !progress(0))
                throw Interrupted();
            continue;
        }
        const ssize_t n = ::read(fd_, into, size);
        if (n >= 0)
            return std::size_t(n);
        if (errno != EINTR && errno != EAGAIN)
            throw ConversionError(std::string("reading ") + kStandardInputName +
                                  " failed: " + std::strerror(errno));
    }
}

MidiFile StandardInput::midi(const ProgressFn& progress) {
    std::vector<std::uint8_t> bytes = std::move(head_);
    // One byte more than a MIDI file may have tells a larger input from one of just that size.
    while (bytes.size() <= MidiFile::kMaxFileBytes) {
        const std::size_t at = bytes.size();
        bytes.resize(std::min<std::size_t>(at + kCopyBlock, MidiFile::kMaxFileBytes + 1));
        const std::size_t n = next(bytes.data() + at, bytes.size() - at, progress);
        bytes.resize(at + n);
        // Nameless: a song without a title of its own takes its file's name for one, and
        // standard input has none. The converter names it in messages itself (MidiError::problem).
        if (n == 0)
            return MidiFile::parse(std::move(bytes), {});
    }
    throw MidiError(kStandardInputName, "is too large to be a MIDI file (more than " +
                                            std::to_string(MidiFile::kMaxFileBytes >> 20) +
                                            " MiB)");
}

void StandardInput::copyWav(const fs::path& copy, const ProgressFn& progress) {
    struct Descriptor {
        int fd;
        ~Descriptor() {
            if (fd >= 0)
                ::close(fd);
        }
    } out{::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
    const auto failed = [&](const char* doing) {
        throw ConversionError(std::string(doing) + " the copy of " + kStandardInputName + " in " +
                              platform::Quoted(copy.parent_path()) +
                              " failed: " + std::strerror(errno));
    };
    if (out.fd < 0)
        failed("making");
    std::vector<std::uint8_t> block = std::move(head_);
    std::size_t filled = block.size();
    block.resize(kCopyBlock);
    while (filled > 0) {
        for (std::size_t done = 0; done < filled;) {
            const ssize_t n = ::write(out.fd, block.data() + done, filled - done);
            if (n < 0 && errno != EINTR)
                failed("writing");
            done += n > 0 ? std::size_t(n) : 0;
        }
        filled = next(block.data(), block.size(), progress);
    }
    if (::close(std::exchange(out.fd, -1)) != 0)
        failed("writing");
}

} // namespace convert
