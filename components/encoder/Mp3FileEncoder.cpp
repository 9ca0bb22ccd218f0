// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/encoder/Mp3FileEncoder.h"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace encoder {

namespace fs = std::filesystem;

namespace {

std::string inQuotes(const fs::path& path) {
    return "\"" + path.string() + "\"";
}

// Big enough that writing costs a small part of the encoding.
constexpr std::size_t kWriteBuffer = 1 << 16;

} // namespace

Mp3FileEncoder::~Mp3FileEncoder() {
    if (!finished_)
        abandon();
}

bool Mp3FileEncoder::open(const fs::path& wavPath, quillory::output::OutputFile mp3,
                          const Mp3Settings& settings, const std::string& sourceName) {
    const fs::path mp3Path = mp3.target();
    source_ = WavSource::openFile(wavPath, error_, sourceName);
    if (!source_)
        return false;
    std::error_code ec;
    if (fs::equivalent(wavPath, mp3Path, ec)) {
        source_.reset();
        return fail("The MP3 file " + inQuotes(mp3Path) + " would overwrite its own source.");
    }
    // The WAV's own title and copyright go with it; the software is the encoder that made the MP3.
    quillory::tags::TextTags tags = source_->tags();
    tags.software = std::string(quillory::tags::kSoftware);
    if (!stream_.open(settings, source_->sampleRate(), source_->channels(), tags)) {
        source_.reset();
        return fail(stream_.error());
    }
    if (const std::string refused = mp3.create(); !refused.empty()) {
        source_.reset();
        return fail("Cannot create the MP3 file " + inQuotes(mp3Path) + ": " + refused + ".");
    }
    target_ = mp3.openStream();
    if (target_ == nullptr) {
        const int code = errno;
        source_.reset();
        return fail("Cannot create the MP3 file " + inQuotes(mp3Path) + ": " + std::strerror(code) +
                    ".");
    }
    std::setvbuf(target_, nullptr, _IOFBF, kWriteBuffer);
    targetPath_ = mp3Path;
    // A pipe or a device (/dev/null) written directly cannot be rewound for the header.
    seekable_ = fs::is_regular_file(mp3.writePath(), ec);
    output_ = std::move(mp3);
    const std::vector<std::uint8_t>& tag = stream_.id3v2Tag();
    return write(tag.data(), tag.size());
}

Mp3FileEncoder::Step Mp3FileEncoder::encodeBlock(std::int64_t maxFrames) {
    if (target_ == nullptr)
        return Step::Failed;
    samples_.resize(static_cast<std::size_t>(maxFrames) *
                    static_cast<std::size_t>(source_->channels()));
    const std::int64_t got = source_->read(samples_.data(), maxFrames);
    if (got < 0) {
        fail(source_->error());
        return Step::Failed;
    }
    const auto bytes = stream_.encode(samples_.data(), static_cast<std::size_t>(got));
    if (!bytes) {
        fail(stream_.error());
        return Step::Failed;
    }
    if (!write(bytes->data(), bytes->size()))
        return Step::Failed;
    framesDone_ += got;
    return got < maxFrames ? Step::End : Step::More;
}

bool Mp3FileEncoder::finish() {
    if (target_ == nullptr || finished_)
        return false;
    const auto tail = stream_.flush();
    if (!tail)
        return fail(stream_.error());
    if (!write(tail->data(), tail->size()))
        return false;
    const std::vector<std::uint8_t> header = stream_.header();
    // A pipe cannot be rewound; its stream simply keeps the placeholder frame. The header frame
    // is the first frame of the audio, right after the tag.
    if (!header.empty() && seekable_) {
        if (std::fseek(target_, long(stream_.id3v2Tag().size()), SEEK_SET) != 0)
            return fail("Cannot rewind " + inQuotes(targetPath_) + ": " + std::strerror(errno) +
                        ".");
        if (!write(header.data(), header.size()))
            return false;
    }
    const int closed = std::fclose(target_);
    const int code = errno;
    target_ = nullptr;
    if (closed != 0)
        return fail("Writing " + inQuotes(targetPath_) + " failed: " + std::strerror(code) + ".");
    if (const std::string failed = output_.commit(); !failed.empty())
        return fail("The MP3 file could not be put in place: " + failed + ".");
    finished_ = true;
    return true;
}

void Mp3FileEncoder::abandon() {
    closeTarget();
    if (!finished_)
        output_.discard();
}

bool Mp3FileEncoder::write(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0 || std::fwrite(bytes, 1, size, target_) == size)
        return true;
    return fail("Writing " + inQuotes(targetPath_) + " failed: " + std::strerror(errno) + ".");
}

// Records the reason and removes the partial target; always false, for `return fail(...)`.
bool Mp3FileEncoder::fail(std::string message) {
    error_ = std::move(message);
    abandon();
    return false;
}

void Mp3FileEncoder::closeTarget() {
    if (target_ != nullptr) {
        std::fclose(target_);
        target_ = nullptr;
    }
}

} // namespace encoder
