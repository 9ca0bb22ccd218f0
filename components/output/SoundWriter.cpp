// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/output/SoundWriter.h"

#include "components/output/OggSerial.h"

#include "components/audio/SamplePeak.h"
#include "components/audio/StereoLayout.h"
#include "components/output/StreamSink.h"

#include <sndfile.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace quillory::renderer {

namespace {

// Leaves room for the header within the 32-bit sizes of a RIFF file.
constexpr std::uint64_t kMaxWavData = 0xFFFFFFFFull - 4096;
// libsndfile's Opus encoder takes its bit rate as a compression level: 6 kb/s a channel plus
// (1 - level) times 250 kb/s.
constexpr int kOpusMinKbps = 6;
constexpr int kOpusMaxKbps = 256;

std::string bitsProblem(const SoundFormat& f) {
    const std::string bits = std::to_string(f.bitsPerSample) + " bits per sample are not supported";
    switch (f.container) {
    case Container::Wav:
        if (f.bitsPerSample != 8 && f.bitsPerSample != 16 && f.bitsPerSample != 24 &&
            f.bitsPerSample != SoundFormat::kFloatBits)
            return bits + " in WAV (8, 16, 24 or 32-bit float)";
        break;
    case Container::Flac:
        if (f.bitsPerSample != 16 && f.bitsPerSample != 24)
            return bits + " in FLAC (16 or 24)";
        break;
    default:
        break;
    }
    return {};
}

int subtype(const SoundFormat& f) {
    switch (f.bitsPerSample) {
    case 8:
        return SF_FORMAT_PCM_U8;
    case 24:
        return SF_FORMAT_PCM_24;
    case SoundFormat::kFloatBits:
        return SF_FORMAT_FLOAT;
    default:
        return SF_FORMAT_PCM_16;
    }
}

} // namespace

std::string soundFileVersion() {
    return sf_version_string();
}

std::string SoundFormat::problem() const {
    if (sampleRate < 8000 || sampleRate > 96000)
        return "a sample rate of " + std::to_string(sampleRate) +
               " Hz is not supported (8000 to 96000 Hz)";
    if (container == Container::Opus && sampleRate != kOpusRate)
        return "Opus is written at 48000 Hz, not " + std::to_string(sampleRate) + " Hz";
    if (const std::string bits = bitsProblem(*this); !bits.empty())
        return bits;
    if (channels != 1 && channels != 2)
        return std::to_string(channels) + " channels are not supported (1 or 2)";
    if (container == Container::Vorbis && (vorbisQuality < 0 || vorbisQuality > 10))
        return "an Ogg Vorbis quality of " + std::to_string(vorbisQuality) +
               " is not supported (0 to 10)";
    if (container == Container::Opus &&
        (opusKbps < kOpusMinKbps * channels || opusKbps > kOpusMaxKbps * channels))
        return "an Opus bit rate of " + std::to_string(opusKbps) + " kb/s is not supported (" +
               std::to_string(kOpusMinKbps * channels) + " to " +
               std::to_string(kOpusMaxKbps * channels) + " kb/s for " + std::to_string(channels) +
               (channels == 1 ? " channel)" : " channels)");
    return {};
}

bool SoundFormat::integerPcm() const {
    return (container == Container::Wav || container == Container::Flac) &&
           bitsPerSample != kFloatBits;
}

std::uint64_t SoundFormat::bytesPerFrame() const {
    // FLAC stores a frame it cannot shrink as it is, with a few bytes of framing; the lossy
    // formats stay well below 16-bit PCM at any quality.
    const int bits = integerPcm() || container == Container::Wav ? bitsPerSample : 16;
    const std::uint64_t pcm = std::uint64_t(channels) * std::uint64_t(bits / 8);
    return container == Container::Flac ? pcm + 1 : pcm;
}

std::string SoundFormat::extension() const {
    switch (container) {
    case Container::Flac:
        return ".flac";
    case Container::Vorbis:
        return ".ogg";
    case Container::Opus:
        return ".opus";
    default:
        return ".wav";
    }
}

SoundWriter::SoundWriter(output::OutputFile target, const SoundFormat& format,
                         std::uint64_t maxFrames, std::uint64_t ditherSeed)
    : output_(std::move(target))
    , path_(output_.target())
    , format_(format)
    , quantizer_(format.bitsPerSample, ditherSeed) {
    if (const std::string problem = format.problem(); !problem.empty())
        throw RenderError(problem);
    if (const std::string refused = output_.create(); !refused.empty())
        throw RenderError("cannot create " + path_.string() + " (" + refused + ")");
    SF_INFO info{};
    info.samplerate = format.sampleRate;
    info.channels = format.channels;
    switch (format.container) {
    case Container::Wav:
        // A stream cannot be rewound to downgrade an RF64 header; a WAV too long for its sizes
        // goes out with the streaming size instead.
        rf64_ = maxFrames > kMaxWavData / format.bytesPerFrame() && !output_.stream();
        info.format = (rf64_ ? SF_FORMAT_RF64 : SF_FORMAT_WAV) | subtype(format);
        break;
    case Container::Flac:
        info.format = SF_FORMAT_FLAC | subtype(format);
        break;
    case Container::Vorbis:
        info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        break;
    case Container::Opus:
        info.format = SF_FORMAT_OGG | SF_FORMAT_OPUS;
        break;
    }
    const int fd = output_.open();
    if (fd < 0)
        throw RenderError("cannot create " + path_.string() + " (" + std::strerror(errno) + ")");
    open(fd, info);
    configure();
}

void SoundWriter::open(int fd, SF_INFO& info) {
    if (!output_.stream()) {
        file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    } else {
        using output::StreamSink;
        const StreamSink::Kind kind = format_.container == Container::Wav ? StreamSink::Kind::Wav
                                      : format_.container == Container::Flac
                                          ? StreamSink::Kind::Flac
                                          : StreamSink::Kind::Ogg;
        stream_ = std::make_unique<StreamSink>(fd, kind, int(format_.bytesPerFrame()));
        SF_VIRTUAL_IO io{&StreamSink::length, &StreamSink::seek, &StreamSink::read,
                         &StreamSink::write, &StreamSink::tell};
        file_ = sf_open_virtual(&io, SFM_WRITE, &info, stream_.get());
    }
    if (!file_)
        throw RenderError("cannot create " + path_.string() + " (" + why() + ")");
}

// libsndfile's reason, or the stream's own where it refused what libsndfile wrote.
std::string SoundWriter::why() const {
    if (stream_ && !stream_->failure().empty())
        return stream_->failure();
    return sf_strerror(file_);
}

void SoundWriter::expectFrames(std::uint64_t frames) {
    if (frames_ > 0)
        throw std::logic_error("SoundWriter::expectFrames after the first write");
    expected_ = frames;
    if (stream_)
        stream_->expectFrames(frames);
}

// The encoders' settings, which libsndfile takes as a compression level from 0 (best) to 1.
void SoundWriter::configure() {
    double level = -1;
    if (format_.container == Container::Vorbis)
        level = 1.0 - format_.vorbisQuality / 10.0;
    if (format_.container == Container::Opus) {
        // Half a bit a second over, as libsndfile truncates the rate it works out.
        const double perChannel = format_.opusKbps * 1000.0 / format_.channels;
        level = 1.0 - (perChannel - kOpusMinKbps * 1000.0 + 0.5) / 250000.0;
    }
    if (level >= 0 &&
        sf_command(file_, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level) != SF_TRUE) {
        discard();
        throw RenderError("cannot set the encoder of " + path_.string());
    }
    // A float WAV's PEAK chunk says when it was written, so that one song rendered twice would
    // differ in its bytes; the peaks it holds are what any reader finds in the samples.
    sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    // A render stopped early may still fit a plain WAV after all.
    if (rf64_)
        sf_command(file_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
}

SoundWriter::~SoundWriter() {
    discard();
}

void SoundWriter::setTags(const tags::TextTags& tags) {
    if (frames_ > 0)
        throw std::logic_error("SoundWriter::setTags after the first write");
    tags_ = tags;
}

// libsndfile leaves the RIFF size of a file with an INFO chunk and no audio short of the chunk,
// which makes the file unreadable to strict readers; so the texts go in with the first audio,
// and a file closed before any (a render stopped at once) is a plain empty file.
void SoundWriter::writeTags() {
    const std::pair<int, const std::string*> fields[] = {{SF_STR_TITLE, &tags_.title},
                                                         {SF_STR_COPYRIGHT, &tags_.copyright},
                                                         {SF_STR_SOFTWARE, &tags_.software}};
    for (const auto& [field, text] : fields) {
        const std::string clean = tags::cleanTagText(*text);
        if (!clean.empty() && sf_set_string(file_, field, clean.c_str()) != 0)
            throw RenderError("cannot tag " + path_.string() + " (" + sf_strerror(file_) + ")");
    }
}

void SoundWriter::write(const float* left, const float* right, std::size_t frames) {
    writeSamples(inChannels(left, right, frames, format_.channels, interleaved_), frames);
}

void SoundWriter::writeInterleaved(const float* stereo, std::size_t frames) {
    writeSamples(inChannels(stereo, frames, format_.channels, interleaved_), frames);
}

namespace {

// Samples that already lie on the steps (a lossless copy) are only rounded off their float
// representation, in libsndfile's short or int units.
template <typename Int>
void rounded(const float* in, std::size_t count, double steps, double unit, Int* out) {
    for (std::size_t i = 0; i < count; ++i) {
        const double v = std::clamp(std::nearbyint(double(in[i]) * steps), -steps, steps - 1);
        out[i] = Int(v * unit);
    }
}

} // namespace

// samples: in the file's channel layout, before quantising.
void SoundWriter::writeSamples(const float* samples, std::size_t frames) {
    if (frames == 0)
        return;
    if (frames_ == 0 && !tags_.empty())
        writeTags();
    const std::size_t count = frames * std::size_t(format_.channels);
    peak_ = std::max(peak_, peakOf(samples, count));
    sf_count_t written = 0;
    if (!format_.integerPcm()) {
        written = sf_writef_float(file_, samples, sf_count_t(frames));
    } else if (format_.bitsPerSample == 24) {
        ints_.resize(count);
        if (format_.dither)
            quantizer_.quantize(samples, count, 1.0f, ints_.data());
        else
            rounded(samples, count, 8388608.0, 256.0, ints_.data());
        written = sf_writef_int(file_, ints_.data(), sf_count_t(frames));
    } else {
        shorts_.resize(count);
        const bool eight = format_.bitsPerSample == 8;
        if (format_.dither)
            quantizer_.quantize(samples, count, 1.0f, shorts_.data());
        else
            rounded(samples, count, eight ? 128.0 : 32768.0, eight ? 256.0 : 1.0, shorts_.data());
        // Shorts, which libsndfile stores exactly: the values are already final (see Dither.h).
        written = sf_writef_short(file_, shorts_.data(), sf_count_t(frames));
    }
    if (written != sf_count_t(frames))
        throw RenderError("writing " + path_.string() + " failed (" + why() + ")");
    frames_ += frames;
}

void SoundWriter::sync() {
    if (const std::string failed = output_.sync(); !failed.empty())
        throw RenderError(failed);
}

void SoundWriter::finish() {
    if (!file_)
        return;
    // The stream's header has promised its length already.
    if (stream_ && expected_ && *expected_ != frames_) {
        discard();
        throw RenderError("completing " + path_.string() + " failed (" +
                          std::to_string(*expected_) + " frames were promised, " +
                          std::to_string(frames_) + " written)");
    }
    const int error = sf_error(file_);
    std::string reason = error ? why() : "";
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (reason.empty() && stream_)
        reason = stream_->failure();
    stream_.reset();
    if (error || closed != 0 || !reason.empty())
        throw RenderError("completing " + path_.string() + " failed" +
                          (reason.empty() ? std::string() : " (" + reason + ")"));
    const bool ogg = format_.container == Container::Vorbis || format_.container == Container::Opus;
    if (ogg && !output_.direct())
        if (const std::string failed = output::setOggSerial(output_.writePath()); !failed.empty())
            throw RenderError("completing " + path_.string() + " failed (" + failed + ")");
    finished_ = true;
}

void SoundWriter::close(output::Flush flush, const output::Rename& rename) {
    if (!file_ && !finished_)
        return;
    finish();
    finished_ = false;
    if (const std::string failed = output_.commit(flush, rename); !failed.empty())
        throw RenderError(failed);
}

void SoundWriter::discard() {
    if (file_) {
        sf_close(file_);
        file_ = nullptr;
    }
    finished_ = false;
    stream_.reset();
    output_.discard();
}

} // namespace quillory::renderer
