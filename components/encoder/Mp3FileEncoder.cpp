// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/encoder/Mp3FileEncoder.h"

#include "platform/ShownName.h"

#include <system_error>

namespace encoder {

namespace fs = std::filesystem;

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
        return fail("The MP3 file " + platform::Quoted(mp3Path) +
                    " would overwrite its own source.");
    }
    // The WAV's own title and copyright go with it; the software is the encoder that made the MP3.
    quillory::tags::TextTags tags = source_->tags();
    tags.software = std::string(quillory::tags::kSoftware);
    if (!stream_.open(settings, source_->sampleRate(), source_->channels(), tags)) {
        source_.reset();
        return fail(stream_.error());
    }
    if (!output_.open(std::move(mp3), stream_)) {
        source_.reset();
        return failed();
    }
    return true;
}

Mp3FileEncoder::Step Mp3FileEncoder::encodeBlock(std::int64_t maxFrames) {
    if (!output_.isOpen())
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
    if (!write(*bytes))
        return Step::Failed;
    framesDone_ += got;
    return got < maxFrames ? Step::End : Step::More;
}

bool Mp3FileEncoder::finish() {
    if (!output_.isOpen() || finished_)
        return false;
    const auto tail = stream_.flush();
    if (!tail)
        return fail(stream_.error());
    if (!write(*tail))
        return false;
    if (!output_.close(stream_))
        return failed();
    if (const std::string refused = output_.commit(); !refused.empty())
        return fail("The MP3 file could not be put in place: " + refused + ".");
    finished_ = true;
    return true;
}

void Mp3FileEncoder::abandon() {
    if (!finished_)
        output_.discard();
}

bool Mp3FileEncoder::write(std::span<const std::uint8_t> bytes) {
    return output_.write(bytes) || failed();
}

// Records the reason and removes the partial target; always false, for `return fail(...)`.
bool Mp3FileEncoder::fail(std::string message) {
    error_ = std::move(message);
    abandon();
    return false;
}

bool Mp3FileEncoder::failed() {
    const Mp3Output::Failure& failure = output_.failure();
    const std::string target = platform::Quoted(output_.target());
    switch (failure.step) {
    case Mp3Output::Step::Create:
        return fail("Cannot create the MP3 file " + target + ": " + failure.reason + ".");
    case Mp3Output::Step::Rewind:
        return fail("Cannot rewind " + target + ": " + failure.reason + ".");
    case Mp3Output::Step::Write:
        break;
    }
    return fail("Writing " + target + " failed: " + failure.reason + ".");
}

} // namespace encoder
