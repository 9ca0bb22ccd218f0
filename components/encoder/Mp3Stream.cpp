// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/encoder/Mp3Stream.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <mutex>
#include <string>

namespace encoder {

namespace {

// LAME fills process-wide lookup tables while it initialises an encoder, so encoders that start
// at the same time on different threads must take turns.
std::mutex lameInitMutex;

void discardLameMessage(const char*, va_list) {
}

MPEG_mode lameMode(ChannelLayout layout) {
    switch (layout) {
    case ChannelLayout::Stereo:
        return STEREO;
    case ChannelLayout::Mono:
        return MONO;
    case ChannelLayout::DualChannel:
        return DUAL_CHANNEL;
    case ChannelLayout::JointStereo:
        break;
    }
    return JOINT_STEREO;
}

// Frames handed to LAME per call, so its output buffer stays small whatever the caller passes.
constexpr std::size_t kChunkFrames = 1 << 15;

// LAME's own bound for the output of one call.
std::size_t worstCaseBytes(std::size_t frames) {
    return frames * 5 / 4 + 7200;
}

} // namespace

std::string lameVersion() {
    return get_lame_version();
}

Mp3Stream::~Mp3Stream() {
    if (lame_ != nullptr)
        lame_close(lame_);
}

bool Mp3Stream::open(const Mp3Settings& settings, int sourceRate, int sourceChannels,
                     const quillory::tags::TextTags& tags) {
    plan_ = planMp3(settings, sourceRate, sourceChannels);
    sourceChannels_ = sourceChannels;
    sourceRate_ = sourceRate;
    framesIn_ = 0;
    lame_ = lame_init();
    if (lame_ == nullptr) {
        error_ = "The MP3 encoder could not be started (out of memory).";
        return false;
    }
    lame_set_errorf(lame_, &discardLameMessage);
    lame_set_debugf(lame_, &discardLameMessage);
    lame_set_msgf(lame_, &discardLameMessage);
    lame_set_in_samplerate(lame_, sourceRate);
    lame_set_num_channels(lame_, sourceChannels);
    lame_set_out_samplerate(lame_, plan_.sampleRate);
    lame_set_mode(lame_, lameMode(plan_.layout));
    lame_set_write_id3tag_automatic(lame_, 0);
    lame_set_bWriteVbrTag(lame_, 1);
    // The LAME tag's ReplayGain field is only filled in when LAME analyses the audio.
    lame_set_findReplayGain(lame_, 1);
    const bool tagged = !tags.empty();
    if (tagged) {
        id3tag_init(lame_);
        id3tag_v2_only(lame_);
        if (!setTagText("TIT2", tags.title) || !setTagText("TCOP", tags.copyright) ||
            !setTagText("TSSE", tags.software))
            return false;
    }
    if (plan_.variable || plan_.pinnedConstant) {
        lame_set_VBR(lame_, vbr_default);
        lame_set_VBR_q(lame_, kVbrQuality);
        lame_set_VBR_min_bitrate_kbps(lame_, plan_.minKbps);
        lame_set_VBR_max_bitrate_kbps(lame_, plan_.maxKbps);
        lame_set_VBR_hard_min(lame_, 1);
    } else {
        lame_set_VBR(lame_, vbr_off);
        lame_set_brate(lame_, plan_.minKbps);
    }
    int status = 0;
    {
        std::lock_guard lock(lameInitMutex);
        status = lame_init_params(lame_);
    }
    if (status < 0) {
        error_ =
            "The MP3 encoder refused the settings (LAME error " + std::to_string(status) + ").";
        return false;
    }
    if (tagged) {
        id3v2Tag_.resize(lame_get_id3v2_tag(lame_, nullptr, 0));
        id3v2Tag_.resize(lame_get_id3v2_tag(lame_, id3v2Tag_.data(), id3v2Tag_.size()));
    }
    return true;
}

double Mp3Stream::levelChangeDb() const {
    const float scale = lame_ != nullptr ? lame_get_scale(lame_) : 1.0f;
    return scale > 0 ? 20.0 * std::log10(double(scale)) : 0.0;
}

// Latin-1 where the text allows, since every ID3 reader knows it; UTF-16 with a byte order mark,
// which LAME requires, for anything else.
bool Mp3Stream::setTagText(const char* frame, const std::string& text) {
    const std::string clean = quillory::tags::cleanTagText(text);
    if (clean.empty())
        return true;
    int status = 0;
    if (quillory::tags::fitsLatin1(clean)) {
        status = id3tag_set_textinfo_latin1(lame_, frame, quillory::tags::toLatin1(clean).c_str());
    } else {
        const std::u16string utf16 = u"\uFEFF" + quillory::tags::toUtf16(clean);
        std::vector<unsigned short> units(utf16.begin(), utf16.end());
        units.push_back(0);
        status = id3tag_set_textinfo_utf16(lame_, frame, units.data());
    }
    if (status != 0) {
        error_ = std::string("The MP3 encoder refused the ") + frame + " tag (LAME error " +
                 std::to_string(status) + ").";
        return false;
    }
    return true;
}

std::uint64_t Mp3Stream::framesOut() const {
    if (sourceRate_ <= 0 || plan_.sampleRate == sourceRate_)
        return framesIn_;
    // LAME's resampler gives the source's length at the new rate, rounded to the nearest frame.
    const auto scaled = static_cast<unsigned __int128>(framesIn_) * unsigned(plan_.sampleRate);
    return std::uint64_t((scaled + unsigned(sourceRate_) / 2) / unsigned(sourceRate_));
}

std::optional<std::span<const std::uint8_t>> Mp3Stream::encode(const float* interleaved,
                                                               std::size_t frames) {
    std::size_t written = 0;
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min(frames - done, kChunkFrames);
        const float* left = interleaved + done * static_cast<std::size_t>(sourceChannels_);
        const float* right = left;
        if (sourceChannels_ == 2) {
            left_.resize(n);
            right_.resize(n);
            for (std::size_t i = 0; i < n; ++i) {
                left_[i] = left[2 * i];
                right_[i] = left[2 * i + 1];
            }
            left = left_.data();
            right = right_.data();
        }
        out_.resize(written + worstCaseBytes(n));
        const int bytes = lame_encode_buffer_ieee_float(lame_, left, right, static_cast<int>(n),
                                                        out_.data() + written,
                                                        static_cast<int>(worstCaseBytes(n)));
        if (bytes < 0)
            return failed(bytes, "encoding");
        written += static_cast<std::size_t>(bytes);
        done += n;
        framesIn_ += n;
    }
    return std::span<const std::uint8_t>(out_.data(), written);
}

std::optional<std::span<const std::uint8_t>> Mp3Stream::flush() {
    out_.resize(worstCaseBytes(0));
    const int bytes = lame_encode_flush(lame_, out_.data(), static_cast<int>(out_.size()));
    if (bytes < 0)
        return failed(bytes, "finishing the stream");
    return std::span<const std::uint8_t>(out_.data(), static_cast<std::size_t>(bytes));
}

std::nullopt_t Mp3Stream::failed(int status, const char* what) {
    error_ = std::string("The MP3 encoder failed while ") + what + " (LAME error " +
             std::to_string(status) + ").";
    return std::nullopt;
}

std::vector<std::uint8_t> Mp3Stream::header() const {
    std::vector<std::uint8_t> frame(lame_get_lametag_frame(lame_, nullptr, 0));
    frame.resize(lame_get_lametag_frame(lame_, frame.data(), frame.size()));
    return frame;
}

} // namespace encoder
