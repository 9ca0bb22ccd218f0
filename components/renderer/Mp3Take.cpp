// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/renderer/Mp3Take.h"

#include "components/output/SoundWriter.h"
#include "platform/ShownName.h"

namespace quillory::renderer {

Mp3Take::Mp3Take(const encoder::Mp3Settings& settings, int sampleRate, const tags::TextTags& tags,
                 output::OutputFile file) {
    if (!stream_.open(settings, sampleRate, 2, tags))
        throw RenderError(stream_.error());
    if (!output_.open(std::move(file), stream_))
        failed();
}

Mp3Take::~Mp3Take() {
    if (!finished_)
        discard();
}

// Throws what the file's failure was, naming the target.
void Mp3Take::failed() const {
    const encoder::Mp3Output::Failure& failure = output_.failure();
    const std::string target = platform::Quoted(output_.target());
    switch (failure.step) {
    case encoder::Mp3Output::Step::Create:
        throw RenderError("cannot create " + target + ": " + failure.reason);
    case encoder::Mp3Output::Step::Rewind:
        throw RenderError("cannot rewind " + target + ": " + failure.reason);
    case encoder::Mp3Output::Step::Write:
        break;
    }
    throw RenderError("writing " + target + " failed: " + failure.reason);
}

void Mp3Take::write(std::span<const std::uint8_t> bytes) {
    if (!output_.write(bytes))
        failed();
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
    if (!output_.close(stream_))
        failed();
    finished_ = true;
    return last;
}

void Mp3Take::commit() {
    if (const std::string refused = output_.commit(); !refused.empty())
        throw RenderError(refused);
}

void Mp3Take::discard() {
    output_.discard();
}

} // namespace quillory::renderer
