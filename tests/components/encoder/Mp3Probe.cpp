// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/components/encoder/Mp3Probe.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

namespace fixtures {

namespace {

bool firstFrameHasHeader(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> head(256);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    const auto end = head.begin() + in.gcount();
    for (const char* tag : {"Xing", "Info"})
        if (std::search(head.begin(), end, tag, tag + 4) != end)
            return true;
    return false;
}

} // namespace

int samplesPerFrame(long rate) {
    return rate >= 32000 ? 1152 : 576;
}

Mp3Facts probeMp3(const std::filesystem::path& path, bool keepAudio) {
    static const int initialised = mpg123_init();
    (void)initialised;
    Mp3Facts facts;
    facts.hasHeaderFrame = firstFrameHasHeader(path);
    int status = MPG123_OK;
    mpg123_handle* h = mpg123_new(nullptr, &status);
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET | MPG123_FORCE_FLOAT, 0.0);
    if (mpg123_open(h, path.string().c_str()) != MPG123_OK) {
        facts.error = mpg123_strerror(h);
        mpg123_delete(h);
        return facts;
    }
    int encoding = 0;
    if (mpg123_getformat(h, &facts.rate, &facts.channels, &encoding) != MPG123_OK) {
        facts.error = mpg123_strerror(h);
        mpg123_delete(h);
        return facts;
    }
    facts.headerLength = mpg123_length(h);
    facts.minKbps = std::numeric_limits<int>::max();
    off_t frameNumber = 0;
    unsigned char* audio = nullptr;
    size_t bytes = 0;
    for (;;) {
        status = mpg123_decode_frame(h, &frameNumber, &audio, &bytes);
        if (status == MPG123_NEW_FORMAT) {
            mpg123_getformat(h, &facts.rate, &facts.channels, &encoding);
            continue;
        }
        if (status != MPG123_OK)
            break;
        mpg123_frameinfo info{};
        mpg123_info(h, &info);
        facts.modes.insert(info.mode);
        facts.minKbps = std::min(facts.minKbps, info.bitrate);
        facts.maxKbps = std::max(facts.maxKbps, info.bitrate);
        ++facts.frames;
        const auto* samples = reinterpret_cast<const float*>(audio);
        const std::size_t count = bytes / sizeof(float);
        facts.samples += static_cast<std::int64_t>(count) / facts.channels;
        if (keepAudio)
            facts.audio.insert(facts.audio.end(), samples, samples + count);
    }
    facts.decoded = status == MPG123_DONE;
    if (!facts.decoded)
        facts.error = mpg123_plain_strerror(status);
    mpg123_delete(h);
    return facts;
}

} // namespace fixtures
