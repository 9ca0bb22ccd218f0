// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/levelling/DecodedLoudness.h"

#include "components/audio/BlockSource.h"
#include "components/levelling/GatedLoudness.h"
#include "components/levelling/TruePeakScan.h"
#include "components/output/SoundWriter.h"

#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace quillory::renderer {

// libmpg123 or libsndfile behind one read: interleaved floats of the file's own channels.
struct DecodedLoudness::Decoder {
    mpg123_handle* mp3 = nullptr;
    SNDFILE* sound = nullptr;
    long rate = 0;
    int channels = 0;

    ~Decoder() {
        if (mp3)
            mpg123_delete(mp3);
        if (sound)
            sf_close(sound);
    }

    void openMp3(const std::filesystem::path& file) {
        int status = MPG123_OK;
        mp3 = mpg123_new(nullptr, &status);
        if (!mp3)
            throw RenderError("the MP3 decoder could not be started: " +
                              std::string(mpg123_plain_strerror(status)));
        mpg123_param(mp3, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET | MPG123_FORCE_FLOAT, 0.0);
        int encoding = 0;
        if (mpg123_open(mp3, file.c_str()) != MPG123_OK ||
            mpg123_getformat(mp3, &rate, &channels, &encoding) != MPG123_OK)
            throw RenderError("cannot decode " + file.string() + " (" + mpg123_strerror(mp3) + ")");
    }

    void openSound(const std::filesystem::path& file) {
        SF_INFO info{};
        sound = sf_open(file.c_str(), SFM_READ, &info);
        if (!sound)
            throw RenderError("cannot decode " + file.string() + " (" + sf_strerror(nullptr) + ")");
        rate = info.samplerate;
        channels = info.channels;
    }

    // Up to `frames` frames into `to`; 0 at the end.
    std::size_t read(float* to, std::size_t frames, const std::filesystem::path& file) {
        if (sound) {
            const sf_count_t got = sf_readf_float(sound, to, sf_count_t(frames));
            if (got < 0 || (got == 0 && sf_error(sound) != SF_ERR_NO_ERROR))
                throw RenderError("decoding " + file.string() + " failed (" + sf_strerror(sound) +
                                  ")");
            return std::size_t(got);
        }
        std::size_t done = 0;
        const std::size_t bytes = frames * std::size_t(channels) * sizeof(float);
        auto* out = reinterpret_cast<unsigned char*>(to);
        while (done < bytes) {
            size_t got = 0;
            const int status = mpg123_read(mp3, out + done, bytes - done, &got);
            done += got;
            if (status == MPG123_DONE)
                break;
            // A file's format does not change in the middle; libmpg123 says so once, at its start.
            if (status != MPG123_OK && status != MPG123_NEW_FORMAT)
                throw RenderError("decoding " + file.string() + " failed (" + mpg123_strerror(mp3) +
                                  ")");
        }
        return done / (std::size_t(channels) * sizeof(float));
    }
};

struct DecodedLoudness::Meter {
    GatedLoudness loudness;
    TruePeakScan peaks;
    std::vector<float> pairs; // mono as (m, m)

    Meter(int rate, int channels)
        : loudness(rate)
        , peaks(rate, channels) {}

    // Mono as the pair (m, m), which GatedLoudness measures as dual mono.
    void add(const float* samples, std::size_t frames, int channels) {
        peaks.add(samples, frames);
        if (channels == 2) {
            loudness.add(samples, frames);
            return;
        }
        pairs.resize(2 * frames);
        for (std::size_t i = 0; i < frames; ++i)
            pairs[2 * i] = pairs[2 * i + 1] = samples[i];
        loudness.add(pairs.data(), frames);
    }
};

DecodedLoudness::DecodedLoudness(const std::filesystem::path& file, LossyCodec codec)
    : file_(file)
    , decoder_(std::make_unique<Decoder>()) {
    if (codec == LossyCodec::Mp3)
        decoder_->openMp3(file);
    else
        decoder_->openSound(file);
    if (decoder_->channels < 1 || decoder_->channels > 2 || decoder_->rate <= 0 ||
        decoder_->rate > std::numeric_limits<int>::max())
        throw RenderError("cannot measure " + file.string() + ": " +
                          std::to_string(decoder_->channels) + " channels at " +
                          std::to_string(decoder_->rate) + " Hz");
    meter_ = std::make_unique<Meter>(int(decoder_->rate), decoder_->channels);
    block_.resize(kBlockFrames * std::size_t(decoder_->channels));
}

DecodedLoudness::~DecodedLoudness() = default;

std::size_t DecodedLoudness::step() {
    if (finished_)
        return 0;
    const std::size_t frames = decoder_->read(block_.data(), kBlockFrames, file_);
    if (frames == 0) {
        meter_->peaks.finish();
        finished_ = true;
        return 0;
    }
    meter_->add(block_.data(), frames, decoder_->channels);
    frames_ += frames;
    return frames;
}

Loudness DecodedLoudness::result() const {
    Loudness result;
    result.integratedLufs = meter_->loudness.integratedLufs();
    result.truePeakDbtp = 20.0 * std::log10(meter_->peaks.peak());
    return result;
}

std::uint64_t DecodedLoudness::framesChecked() const {
    return meter_->peaks.framesChecked();
}

Loudness decodedLoudness(const std::filesystem::path& file, LossyCodec codec) {
    DecodedLoudness meter(file, codec);
    while (meter.step() > 0) {
    }
    return meter.result();
}

} // namespace quillory::renderer
