// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/renderer/Mp3Take.h"

#include "components/output/SoundWriter.h"

#include <cerrno>
#include <cstring>

namespace quillory::renderer {

namespace {

constexpr std::size_t kWriteBuffer = 1 << 16;

std::string quoted(const std::filesystem::path& path) {
    return "\"" + path.string() + "\"";
}

} // namespace

Mp3Take::Mp3Take(const encoder::Mp3Settings& settings, int sampleRate, const tags::TextTags& tags,
                 output::OutputFile file)
    : output_(std::move(file))
    , target_(output_.target()) {
    if (!stream_.open(settings, sampleRate, 2, tags))
        throw RenderError(stream_.error());
    if (const std::string refused = output_.create(); !refused.empty())
        throw RenderError("cannot create " + quoted(target_) + ": " + refused);
    file_ = output_.openStream();
    if (file_ == nullptr)
        throw RenderError("cannot create " + quoted(target_) + ": " + std::strerror(errno));
    std::setvbuf(file_, nullptr, _IOFBF, kWriteBuffer);
    write(stream_.id3v2Tag());
}

Mp3Take::~Mp3Take() {
    if (!finished_)
        discard();
}

void Mp3Take::write(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        throw RenderError("writing " + quoted(target_) + " failed: " + std::strerror(errno));
}

std::span<const float> Mp3Take::encode(std::span<const float> samples) {
    const auto bytes = stream_.encode(samples.data(), samples.size() / 2);
    if (!bytes)
        throw RenderError(stream_.error());
    write(*bytes);
    return samples;
}

std::span<const float> Mp3Take::add(const float* stereo, std::size_t frames) {
    return encode(grid_.add(stereo, 2 * frames));
}

std::span<const float> Mp3Take::finish() {
    const std::span<const float> last = encode(grid_.flush());
    const auto tail = stream_.flush();
    if (!tail)
        throw RenderError(stream_.error());
    write(*tail);
    if (const std::vector<std::uint8_t> header = stream_.header(); !header.empty() && !direct()) {
        if (std::fseek(file_, long(stream_.id3v2Tag().size()), SEEK_SET) != 0)
            throw RenderError("cannot rewind " + quoted(target_) + ": " + std::strerror(errno));
        write(header);
    }
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0)
        throw RenderError("writing " + quoted(target_) + " failed: " + std::strerror(errno));
    finished_ = true;
    return last;
}

void Mp3Take::commit() {
    if (const std::string failed = output_.commit(); !failed.empty())
        throw RenderError(failed);
}

void Mp3Take::closeFile() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

void Mp3Take::discard() {
    closeFile();
    output_.discard();
}

} // namespace quillory::renderer
