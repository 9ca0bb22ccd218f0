// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// LAME behind a small block interface: configure it once from the user's settings and the
// source's format, feed it interleaved float frames, flush, and fetch the Xing/LAME header frame
// that belongs at the start of the audio. Owns no file; what it produces goes to the caller.
//
// With tags, LAME also makes an ID3v2 tag (title TIT2, copyright TCOP, software TSSE). The file
// is then laid out as
//     id3v2Tag() | encode() and flush() output | ...
// and header() replaces the first frame of the audio, at offset id3v2Tag().size(), not at 0.
#pragma once

#include "components/encoder/Mp3Plan.h"
#include "components/midi/TagText.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct lame_global_struct;

namespace encoder {

// LAME's version, as the library in use reports it.
std::string lameVersion();

class Mp3Stream {
public:
    // The variable-bit-rate quality (LAME's -V 2): as good as the min/max range allows.
    static constexpr int kVbrQuality = 2;

    Mp3Stream() = default;
    ~Mp3Stream();
    Mp3Stream(const Mp3Stream&) = delete;
    Mp3Stream& operator=(const Mp3Stream&) = delete;

    // False, with the reason in error(), when LAME refuses the configuration or a tag. Empty
    // tags make no ID3v2 tag at all; texts are cleaned again with cleanTagText. Without a
    // software text, TSSE names LAME, as LAME's own tag does.
    bool open(const Mp3Settings& settings, int sourceRate, int sourceChannels,
              const quillory::tags::TextTags& tags = {});
    const Mp3Plan& plan() const { return plan_; }
    // What LAME does to the level of the samples before it encodes them, in dB, once open: at
    // constant bit rates up to 224 kb/s it lowers them (by 0.45 dB up to 160 kb/s) to leave
    // decoders room; elsewhere 0.
    double levelChangeDb() const;
    // The ID3v2 tag, to be written before the first byte of audio; empty without tags. Its
    // frames are ID3v2.3 text frames in Latin-1 when the text fits, otherwise UTF-16, and it
    // ends in padding so that a tag editor can grow it in place.
    const std::vector<std::uint8_t>& id3v2Tag() const { return id3v2Tag_; }

    // Encodes frames interleaved as the source has them, samples within [-1, 1]. The bytes
    // returned stay valid until the next call; nothing (and error() set) on failure.
    std::optional<std::span<const std::uint8_t>> encode(const float* interleaved,
                                                        std::size_t frames);
    // Encodes what LAME still buffers; after this only header() may be called.
    std::optional<std::span<const std::uint8_t>> flush();
    // The Xing/LAME header frame, to be written over the first frame of the stream once it is
    // flushed, at offset id3v2Tag().size(); it carries the frame count, the seek table, the exact
    // length for players and the ReplayGain of the audio. Its contents do not depend on the tag.
    std::vector<std::uint8_t> header() const;

    const std::string& error() const { return error_; }
    // The frames of audio the MP3 holds for what was encoded so far, at its own rate (plan()),
    // as a decoder that honours the LAME header's delay and padding gives them back.
    std::uint64_t framesOut() const;

private:
    std::nullopt_t failed(int status, const char* what);
    bool setTagText(const char* frame, const std::string& text);

    lame_global_struct* lame_ = nullptr;
    Mp3Plan plan_;
    int sourceChannels_ = 0;
    int sourceRate_ = 0;
    std::uint64_t framesIn_ = 0;
    std::vector<float> left_;
    std::vector<float> right_;
    std::vector<std::uint8_t> out_;
    std::vector<std::uint8_t> id3v2Tag_;
    std::string error_;
};

} // namespace encoder
