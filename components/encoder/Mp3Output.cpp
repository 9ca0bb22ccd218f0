// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/encoder/Mp3Output.h"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

namespace encoder {

namespace {

// Big enough that writing costs a small part of the encoding.
constexpr std::size_t kWriteBuffer = 1 << 16;

} // namespace

Mp3Output::~Mp3Output() {
    closeFile();
}

bool Mp3Output::open(quillory::output::OutputFile file, const Mp3Stream& stream) {
    output_ = std::move(file);
    if (std::string refused = output_.create(); !refused.empty()) {
        failure_ = {Step::Create, std::move(refused)};
        discard();
        return false;
    }
    file_ = output_.openStream();
    if (file_ == nullptr)
        return fail(Step::Create, errno);
    std::setvbuf(file_, nullptr, _IOFBF, kWriteBuffer);
    // A pipe or a device (/dev/null) written directly cannot be rewound for the header; neither
    // can a stream the process holds, whatever it leads to.
    std::error_code ec;
    seekable_ = !output_.direct() && std::filesystem::is_regular_file(output_.writePath(), ec);
    return write(stream.id3v2Tag());
}

bool Mp3Output::write(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size())
        return true;
    return fail(Step::Write, errno);
}

bool Mp3Output::close(const Mp3Stream& stream) {
    if (const std::vector<std::uint8_t> header = stream.header(); !header.empty() && seekable_) {
        if (std::fseek(file_, long(stream.id3v2Tag().size()), SEEK_SET) != 0)
            return fail(Step::Rewind, errno);
        if (!write(header))
            return false;
    }
    const int closed = std::fclose(file_);
    const int error = errno;
    file_ = nullptr;
    if (closed != 0)
        return fail(Step::Write, error);
    return true;
}

void Mp3Output::discard() {
    closeFile();
    output_.discard();
}

// Records the reason and removes the partial file; always false, for `return fail(...)`.
bool Mp3Output::fail(Step step, int error) {
    failure_ = {step, std::strerror(error)};
    discard();
    return false;
}

void Mp3Output::closeFile() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

} // namespace encoder
