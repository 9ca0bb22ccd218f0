// LAME behind a small block interface: configure it once from the user's settings and the
// source's format, feed it interleaved float frames, flush, and fetch the Xing/LAME header frame
// that belongs at the very start of the file. Owns no file; what it produces goes to the caller.
#pragma once

#include "components/encoder/Mp3Plan.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct lame_global_struct;

namespace encoder {

class Mp3Stream {
public:
    // The variable-bit-rate quality (LAME's -V 2): as good as the min/max range allows.
    static constexpr int kVbrQuality = 2;

    Mp3Stream() = default;
    ~Mp3Stream();
    Mp3Stream(const Mp3Stream&) = delete;
    Mp3Stream& operator=(const Mp3Stream&) = delete;

    // False, with the reason in error(), when LAME refuses the configuration.
    bool open(const Mp3Settings& settings, int sourceRate, int sourceChannels);
    const Mp3Plan& plan() const { return plan_; }

    // Encodes frames interleaved as the source has them, samples within [-1, 1]. The bytes
    // returned stay valid until the next call; nothing (and error() set) on failure.
    std::optional<std::span<const std::uint8_t>> encode(const float* interleaved,
                                                        std::size_t frames);
    // Encodes what LAME still buffers; after this only header() may be called.
    std::optional<std::span<const std::uint8_t>> flush();
    // The Xing/LAME header frame, to be written over the first frame of the stream once it is
    // flushed; it carries the frame count, the seek table and the exact length for players.
    std::vector<std::uint8_t> header() const;

    const std::string& error() const { return error_; }

private:
    std::nullopt_t failed(int status, const char* what);

    lame_global_struct* lame_ = nullptr;
    Mp3Plan plan_;
    int sourceChannels_ = 0;
    std::vector<float> left_;
    std::vector<float> right_;
    std::vector<std::uint8_t> out_;
    std::string error_;
};

} // namespace encoder
