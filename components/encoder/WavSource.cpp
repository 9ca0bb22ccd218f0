// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/encoder/WavSource.h"

#include "platform/ShownName.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace encoder {

namespace {

std::string formatName(int format) {
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || info.name == nullptr)
        return "an unknown format";
    return info.name;
}

// The header value libsndfile logged as "<field> : <number>" while parsing, or -1.
long loggedValue(const char* log, const char* field) {
    const char* at = std::strstr(log, field);
    if (at == nullptr || (at = std::strchr(at, ':')) == nullptr)
        return -1;
    char* end = nullptr;
    const long value = std::strtol(at + 1, &end, 10);
    return end == at + 1 ? -1 : value;
}

// Why libsndfile could not open a file, in words a user can act on. Its own message for a
// zero sample rate ("SF_INFO struct incomplete") says nothing useful, so the parse log is read.
std::string openFailure(const std::string& name) {
    char log[8192] = {};
    sf_command(nullptr, SFC_GET_LOG_INFO, log, sizeof log);
    if (loggedValue(log, "Sample Rate") == 0)
        return name + " declares a sample rate of 0 Hz.";
    return "Cannot read " + name + " as a WAV file: " + sf_strerror(nullptr);
}

bool isWavContainer(int format) {
    const int major = format & SF_FORMAT_TYPEMASK;
    return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64;
}

bool isPlainSampleFormat(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
        return true;
    default:
        return false;
    }
}

// The data sizes that a WAV written to a pipe carries, since its writer could not go back to
// fill in the true one: "up to the end" (ffmpeg's, and ours), and sox's.
bool isStreamingSize(long long size) {
    return size == 0xFFFFFFFFll || size == 0x7FFFF000ll;
}

// libsndfile quietly shortens a data chunk that claims more bytes than the file has; its log is
// the only place that says so ("data : <claimed> (should be <present>)"). A streamed WAV saved
// whole (through standard input, say) claims its streaming size, which is no damage.
bool dataChunkWasShortened(SNDFILE* file) {
    char log[8192] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    for (const char* line = log; (line = std::strstr(line, "data")) != nullptr; ++line) {
        const char* end = std::strchr(line, '\n');
        const std::string text(line, end ? end : line + std::strlen(line));
        // Not "'data' chunk should be an even number of bytes", which an odd chunk logs.
        const std::size_t colon = text.find(" : ");
        if (colon != std::string::npos && text.find("should be") != std::string::npos &&
            !isStreamingSize(std::strtoll(text.c_str() + colon + 3, nullptr, 10)))
            return true;
    }
    return false;
}

std::string infoText(SNDFILE* file, int field) {
    const char* text = sf_get_string(file, field);
    return text ? quillory::tags::cleanTagText(text) : std::string();
}

} // namespace

// Lets libsndfile read from memory, so a file and a buffer handed over by a fuzzer take the
// same path through the reader.
struct WavSource::Memory {
    std::span<const std::uint8_t> bytes;
    sf_count_t position = 0;

    static sf_count_t length(void* self) {
        return static_cast<sf_count_t>(static_cast<Memory*>(self)->bytes.size());
    }
    static sf_count_t seek(sf_count_t offset, int whence, void* self) {
        auto* m = static_cast<Memory*>(self);
        const sf_count_t size = static_cast<sf_count_t>(m->bytes.size());
        sf_count_t target = offset;
        if (whence == SEEK_CUR)
            target += m->position;
        else if (whence == SEEK_END)
            target += size;
        if (target < 0 || target > size)
            return -1;
        m->position = target;
        return target;
    }
    static sf_count_t read(void* out, sf_count_t count, void* self) {
        auto* m = static_cast<Memory*>(self);
        const sf_count_t size = static_cast<sf_count_t>(m->bytes.size());
        const sf_count_t n = std::clamp<sf_count_t>(count, 0, size - m->position);
        if (n > 0)
            std::memcpy(out, m->bytes.data() + m->position, static_cast<std::size_t>(n));
        m->position += n;
        return n;
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* self) { return static_cast<Memory*>(self)->position; }
};

std::unique_ptr<WavSource> WavSource::openFile(const std::filesystem::path& path,
                                               std::string& error, const std::string& shownAs) {
    const std::string name = shownAs.empty() ? path.string() : shownAs;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        error = "The WAV file " + platform::Quoted(name) + " does not exist.";
        return nullptr;
    }
    // Refusing non-files here also keeps a FIFO from blocking the open below.
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = platform::Quoted(name) + " is not a file.";
        return nullptr;
    }
    std::unique_ptr<WavSource> source(new WavSource);
    source->name_ = name;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = openFailure(platform::Quoted(name));
        return nullptr;
    }
    if (!source->adopt(file, info, error))
        return nullptr;
    return source;
}

std::unique_ptr<WavSource> WavSource::openMemory(std::span<const std::uint8_t> bytes,
                                                 const std::string& name, std::string& error) {
    std::unique_ptr<WavSource> source(new WavSource);
    source->name_ = name;
    source->memory_ = std::make_unique<Memory>();
    source->memory_->bytes = bytes;
    SF_VIRTUAL_IO io{&Memory::length, &Memory::seek, &Memory::read, &Memory::write, &Memory::tell};
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, source->memory_.get());
    if (file == nullptr) {
        error = openFailure(platform::Quoted(name));
        return nullptr;
    }
    if (!source->adopt(file, info, error))
        return nullptr;
    return source;
}

bool WavSource::adopt(SNDFILE* file, const SF_INFO& info, std::string& error) {
    const std::string name = platform::Quoted(name_);
    if (!isWavContainer(info.format))
        error = name + " is not a WAV file (it is " + formatName(info.format & SF_FORMAT_TYPEMASK) +
                ").";
    else if (!isPlainSampleFormat(info.format))
        error = name + " holds " + formatName(info.format & SF_FORMAT_SUBMASK) +
                " audio; only PCM (8, 16, 24 or 32-bit) and floating-point WAV files can be "
                "encoded.";
    else if (info.channels < 1)
        error = name + " declares no audio channels.";
    else if (info.channels > 2)
        error = name + " has " + std::to_string(info.channels) +
                " channels; only mono and stereo WAV files can be encoded.";
    else if (info.samplerate < kMinSampleRate || info.samplerate > kMaxSampleRate)
        error = name + " declares a sample rate of " + std::to_string(info.samplerate) +
                " Hz; only " + std::to_string(kMinSampleRate) + " to " +
                std::to_string(kMaxSampleRate) + " Hz can be encoded.";
    if (!error.empty()) {
        sf_close(file);
        return false;
    }
    file_ = file;
    sampleRate_ = info.samplerate;
    channels_ = info.channels;
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
        bits_ = 8;
        break;
    case SF_FORMAT_PCM_24:
        bits_ = 24;
        break;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        bits_ = 32;
        break;
    case SF_FORMAT_DOUBLE:
        bits_ = 64;
        break;
    default:
        bits_ = 16;
        break;
    }
    floating_ = bits_ == 64 || (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT;
    frames_ = std::max<sf_count_t>(info.frames, 0);
    tags_.title = infoText(file, SF_STR_TITLE);
    tags_.copyright = infoText(file, SF_STR_COPYRIGHT);
    if (dataChunkWasShortened(file)) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f", double(frames_) / sampleRate_);
        warning_ = name + " declares more audio than the file holds; only the " + seconds +
                   " s present are encoded.";
    }
    return true;
}

WavSource::~WavSource() {
    if (file_ != nullptr)
        sf_close(file_);
}

std::int64_t WavSource::read(float* out, std::int64_t maxFrames) {
    const sf_count_t got = sf_readf_float(file_, out, maxFrames);
    if (got < maxFrames && sf_error(file_) != SF_ERR_NO_ERROR) {
        error_ = "Reading " + platform::Quoted(name_) + " failed: " + sf_strerror(file_);
        return -1;
    }
    sanitiseSamples(out, static_cast<std::size_t>(got) * static_cast<std::size_t>(channels_));
    return got;
}

void sanitiseSamples(float* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const float x = samples[i];
        samples[i] = std::isnan(x) ? 0.0f : std::clamp(x, -1.0f, 1.0f);
    }
}

} // namespace encoder
