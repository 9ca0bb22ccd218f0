#include "components/output/WavWriter.h"

#include <sndfile.h>

#include <cerrno>
#include <cstring>

#include <stdexcept>
#include <string>
#include <utility>

namespace quillory::renderer {

std::string WavFormat::problem() const {
    if (sampleRate < 8000 || sampleRate > 96000)
        return "a sample rate of " + std::to_string(sampleRate) +
               " Hz is not supported (8000 to 96000 Hz)";
    if (bitsPerSample != 8 && bitsPerSample != 16)
        return std::to_string(bitsPerSample) + " bits per sample are not supported (8 or 16)";
    if (channels != 1 && channels != 2)
        return std::to_string(channels) + " channels are not supported (1 or 2)";
    return {};
}

namespace {

// Leaves room for the header within the 32-bit sizes of a RIFF file.
constexpr std::uint64_t kMaxWavData = 0xFFFFFFFFull - 4096;

} // namespace

WavWriter::WavWriter(output::OutputFile target, const WavFormat& format, std::uint64_t maxFrames)
    : output_(std::move(target))
    , path_(output_.target())
    , format_(format)
    , quantizer_(format.bitsPerSample) {
    if (const std::string problem = format.problem(); !problem.empty())
        throw RenderError(problem);
    if (const std::string refused = output_.create(); !refused.empty())
        throw RenderError("cannot create " + path_.string() + " (" + refused + ")");
    SF_INFO info{};
    info.samplerate = format.sampleRate;
    info.channels = format.channels;
    rf64_ = maxFrames > kMaxWavData / format.bytesPerFrame();
    info.format = (rf64_ ? SF_FORMAT_RF64 : SF_FORMAT_WAV) |
                  (format.bitsPerSample == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
    const int fd = output_.open();
    if (fd < 0)
        throw RenderError("cannot create " + path_.string() + " (" + std::strerror(errno) + ")");
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (!file_)
        throw RenderError("cannot create " + path_.string() + " (" + sf_strerror(nullptr) + ")");
    // A render stopped early may still fit a plain WAV after all.
    if (rf64_)
        sf_command(file_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
}

WavWriter::~WavWriter() {
    discard();
}

void WavWriter::setTags(const tags::TextTags& tags) {
    if (frames_ > 0)
        throw std::logic_error("WavWriter::setTags after the first write");
    tags_ = tags;
}

// libsndfile leaves the RIFF size of a file with an INFO chunk and no audio short of the chunk,
// which makes the file unreadable to strict readers; so the texts go in with the first audio,
// and a file closed before any (a render stopped at once) is a plain empty WAV.
void WavWriter::writeTags() {
    const std::pair<int, const std::string*> fields[] = {{SF_STR_TITLE, &tags_.title},
                                                         {SF_STR_COPYRIGHT, &tags_.copyright},
                                                         {SF_STR_SOFTWARE, &tags_.software}};
    for (const auto& [field, text] : fields) {
        const std::string clean = tags::cleanTagText(*text);
        if (!clean.empty() && sf_set_string(file_, field, clean.c_str()) != 0)
            throw RenderError("cannot tag " + path_.string() + " (" + sf_strerror(file_) + ")");
    }
}

void WavWriter::write(const float* left, const float* right, std::size_t frames) {
    const std::size_t channels = std::size_t(format_.channels);
    interleaved_.resize(frames * channels);
    if (channels == 2) {
        for (std::size_t i = 0; i < frames; ++i) {
            interleaved_[2 * i] = left[i];
            interleaved_[2 * i + 1] = right[i];
        }
    } else {
        for (std::size_t i = 0; i < frames; ++i)
            interleaved_[i] = 0.5f * (left[i] + right[i]);
    }
    writeSamples(interleaved_.data(), frames);
}

void WavWriter::writeInterleaved(const float* stereo, std::size_t frames) {
    if (format_.channels == 2) {
        writeSamples(stereo, frames);
        return;
    }
    interleaved_.resize(frames);
    for (std::size_t i = 0; i < frames; ++i)
        interleaved_[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
    writeSamples(interleaved_.data(), frames);
}

// samples: in the file's channel layout, before quantising.
void WavWriter::writeSamples(const float* samples, std::size_t frames) {
    if (frames == 0)
        return;
    if (frames_ == 0 && !tags_.empty())
        writeTags();
    const std::size_t count = frames * std::size_t(format_.channels);
    quantized_.resize(count);
    quantizer_.quantize(samples, count, 1.0f, quantized_.data());
    // Shorts, which libsndfile stores exactly: the values are already final (see Dither.h).
    const sf_count_t written = sf_writef_short(file_, quantized_.data(), sf_count_t(frames));
    if (written != sf_count_t(frames))
        throw RenderError("writing " + path_.string() + " failed (" + sf_strerror(file_) + ")");
    frames_ += frames;
}

void WavWriter::sync() {
    if (const std::string failed = output_.sync(); !failed.empty())
        throw RenderError(failed);
}

void WavWriter::close(output::Flush flush) {
    if (!file_)
        return;
    const int error = sf_error(file_);
    const std::string why = error ? sf_strerror(file_) : "";
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (error || closed != 0)
        throw RenderError("completing " + path_.string() + " failed" +
                          (why.empty() ? std::string() : " (" + why + ")"));
    if (const std::string failed = output_.commit(flush); !failed.empty())
        throw RenderError(failed);
}

void WavWriter::discard() {
    if (file_) {
        sf_close(file_);
        file_ = nullptr;
    }
    output_.discard();
}

} // namespace quillory::renderer
