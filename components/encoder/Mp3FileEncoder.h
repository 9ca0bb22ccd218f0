// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// One WAV file into one MP3 file, a block at a time: open both, call encodeBlock until it says
// End, then finish. The caller owns the loop, so it can report progress and stop between blocks.
// The MP3 is written beside its target and renamed into place by finish (Mp3Output), so a
// failure, an abandon, destroying an unfinished encoder, or a killed process never leaves a
// half-written file under the target's name. A target such as /dev/null is written directly and
// never removed. The MP3 carries the WAV's INFO title and copyright in an ID3v2 tag, with this
// program as the software.
#pragma once

#include "components/encoder/Mp3Output.h"
#include "components/encoder/Mp3Plan.h"
#include "components/encoder/Mp3Stream.h"
#include "components/encoder/WavSource.h"
#include "components/output/OutputFile.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace encoder {

class Mp3FileEncoder {
public:
    enum class Step { More, End, Failed };
    static constexpr std::int64_t kBlockFrames = 8192;

    Mp3FileEncoder() = default;
    ~Mp3FileEncoder();
    Mp3FileEncoder(const Mp3FileEncoder&) = delete;
    Mp3FileEncoder& operator=(const Mp3FileEncoder&) = delete;

    // Opens the source and starts the MP3 beside its target. False, with error() saying why, when
    // the source is no WAV that can be encoded or the MP3 cannot be created; nothing is left then.
    // Messages call the source sourceName, or its path when that is empty.
    bool open(const std::filesystem::path& wavPath, quillory::output::OutputFile mp3,
              const Mp3Settings& settings, const std::string& sourceName = {});

    // Encodes up to maxFrames more frames of the source.
    Step encodeBlock(std::int64_t maxFrames = kBlockFrames);
    // Flushes the encoder, writes the Xing/LAME header over the first frame, closes the file and
    // puts it at its target.
    bool finish();
    // Closes and removes an unfinished MP3; a finished one stays at its target.
    void abandon();
    bool finished() const { return finished_; }

    std::int64_t totalFrames() const { return source_ ? source_->frames() : 0; }
    int sourceRate() const { return source_ ? source_->sampleRate() : 0; }
    std::int64_t framesDone() const { return framesDone_; }
    const Mp3Plan& plan() const { return stream_.plan(); }
    // The frames of audio written so far, at the MP3's rate (Mp3Stream::framesOut).
    std::uint64_t framesOut() const { return stream_.framesOut(); }
    const std::string& error() const { return error_; }
    const std::string& warning() const { return source_ ? source_->warning() : noWarning_; }

private:
    bool write(std::span<const std::uint8_t> bytes);
    bool fail(std::string message);
    // Fails with what the file's failure was, naming the target.
    bool failed();

    std::unique_ptr<WavSource> source_;
    Mp3Stream stream_;
    Mp3Output output_;
    bool finished_ = false;
    std::vector<float> samples_;
    std::int64_t framesDone_ = 0;
    std::string error_;
    std::string noWarning_;
};

} // namespace encoder
