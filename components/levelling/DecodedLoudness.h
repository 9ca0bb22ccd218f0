// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What a lossy file holds once it is decoded, measured as a listener will hear it: an MP3 decoded
// by libmpg123 as players do (the encoder's delay and padding cut off, as its LAME header says),
// an Ogg Vorbis or Opus file by libsndfile; integrated loudness and true peak over the whole
// file, mono as dual mono, as the levelling meter measures the song before it is encoded. A
// codec moves the peaks (decoded MP3s and Opus files peak up to about 0.6 dB above what was
// encoded) and, a little, the loudness, so the promise a lossy file makes is kept only where it
// is judged like this.
//
// The measuring is the levelling meter's: the loudness is GatedLoudness's, which agrees with
// libebur128 to within rounding, and the true peak TruePeakScan's, which is libebur128's for the
// whole file but runs its interpolator only where the peak could be. Measured with libebur128
// throughout, ten minutes of MP3 took 2.4 s of processor time, four times what decoding them
// does; now they take 0.6 s, most of it decoding.
//
// A block at a time, so that a caller can stop between any two.
#pragma once

#include "components/levelling/Loudness.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace quillory::renderer {

enum class LossyCodec { Mp3, Vorbis, Opus };

class DecodedLoudness {
public:
    // Opens the file to decode; throws RenderError naming it when it cannot be read as one of
    // the codec's.
    DecodedLoudness(const std::filesystem::path& file, LossyCodec codec);
    ~DecodedLoudness();
    DecodedLoudness(const DecodedLoudness&) = delete;
    DecodedLoudness& operator=(const DecodedLoudness&) = delete;

    // Decodes and measures the next block; returns its frames, 0 once the file is done. Throws
    // RenderError when the file turns out damaged.
    std::size_t step();
    bool finished() const { return finished_; }
    // The whole file's once finished; before, of what was decoded so far, but for the last few
    // frames of the true peak.
    Loudness result() const;
    std::uint64_t frames() const { return frames_; }
    // The frames whose true peak was measured (see TruePeakScan).
    std::uint64_t framesChecked() const;

private:
    struct Decoder;
    struct Meter;

    std::filesystem::path file_;
    std::unique_ptr<Decoder> decoder_;
    std::unique_ptr<Meter> meter_;
    std::vector<float> block_;
    std::uint64_t frames_ = 0;
    bool finished_ = false;
};

// The whole file at once, for a caller that need not stop half-way.
Loudness decodedLoudness(const std::filesystem::path& file, LossyCodec codec);

} // namespace quillory::renderer
