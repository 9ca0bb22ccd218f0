// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Reading the WAV file to encode, through libsndfile: every WAV, WAVE_FORMAT_EXTENSIBLE or RF64
// file with 8, 16, 24 or 32-bit PCM or floating-point samples, mono or stereo, at 1000 to 768000
// Hz. Anything else is refused with a message naming the file and the reason. Samples come out as
// interleaved floats that LAME can take as they are: NaN becomes 0 and values are clipped to ±1.
// The title and copyright of the file's LIST/INFO chunk (INAM, ICOP) come along for the MP3's tag.
#pragma once

#include "components/midi/TagText.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

struct sf_private_tag;
struct SF_INFO;

namespace encoder {

class WavSource {
public:
    static constexpr int kMinSampleRate = 1000;
    static constexpr int kMaxSampleRate = 768000;

    // Null on failure, with the reason in error. Messages call the file name, or its path when
    // name is empty (a copy of standard input is called what the user knows it as).
    static std::unique_ptr<WavSource> openFile(const std::filesystem::path& path,
                                               std::string& error, const std::string& name = {});
    // Reads from bytes held by the caller, which must outlive the source; name appears in messages.
    static std::unique_ptr<WavSource> openMemory(std::span<const std::uint8_t> bytes,
                                                 const std::string& name, std::string& error);
    ~WavSource();
    WavSource(const WavSource&) = delete;
    WavSource& operator=(const WavSource&) = delete;

    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    // Bits per sample as stored, and whether they are floating point (32 or 64 bits).
    int bitsPerSample() const { return bits_; }
    bool floating() const { return floating_; }
    // The frames the file holds; the end of the data may come sooner if the file is damaged.
    std::int64_t frames() const { return frames_; }
    // Something the user should know although the file can be encoded, or empty.
    const std::string& warning() const { return warning_; }
    // The file's INFO title and copyright, cleaned with cleanTagText (a user's file may hold any
    // bytes there); empty when the file has none. The software field is left empty: an MP3
    // names its own encoder.
    const quillory::tags::TextTags& tags() const { return tags_; }

    // Reads up to maxFrames frames into out (channels() floats per frame). Returns the frames
    // read: fewer than asked only at the end of the data. -1 on a read error (see error()).
    std::int64_t read(float* out, std::int64_t maxFrames);
    const std::string& error() const { return error_; }

private:
    struct Memory;
    WavSource() = default;
    // Takes over an open libsndfile handle; false (handle closed) when the file is refused.
    bool adopt(sf_private_tag* file, const SF_INFO& info, std::string& error);

    sf_private_tag* file_ = nullptr;
    std::unique_ptr<Memory> memory_;
    std::string name_;
    int sampleRate_ = 0;
    int channels_ = 0;
    int bits_ = 16;
    bool floating_ = false;
    std::int64_t frames_ = 0;
    std::string warning_;
    quillory::tags::TextTags tags_;
    std::string error_;
};

// NaN to 0, everything else clipped to [-1, 1].
void sanitiseSamples(float* samples, std::size_t count);

} // namespace encoder
