// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// One take of a song's MP3: its samples put on the 16-bit grid (Pcm16Grid), which is what the
// window's 16-bit WAV holds and its encoder reads back, encoded by LAME and written beside the
// target as every MP3 is (Mp3Output). Once finished, the file is complete where it is written, so
// that it can be decoded and measured (DecodedLoudness) before it is put at its target, or dropped
// for another take.
//
// The batch converter writes its MP3 so; the window's renderer writes a trial take into its work
// folder while it writes the WAV, which its encoding stage then makes the same MP3 of.
#pragma once

#include "components/audio/Pcm16Grid.h"
#include "components/encoder/Mp3Output.h"
#include "components/encoder/Mp3Stream.h"
#include "components/midi/TagText.h"
#include "components/output/OutputFile.h"

#include <cstddef>
#include <filesystem>
#include <span>
#include <vector>

namespace quillory::renderer {

class Mp3Take {
public:
    // Starts the MP3 of a stereo song at sampleRate; throws RenderError when LAME refuses the
    // settings (its own words) or the file cannot be created (naming the target).
    Mp3Take(const encoder::Mp3Settings& settings, int sampleRate, const tags::TextTags& tags,
            output::OutputFile file);
    // A take neither committed nor finished leaves nothing behind.
    ~Mp3Take();
    Mp3Take(const Mp3Take&) = delete;
    Mp3Take& operator=(const Mp3Take&) = delete;

    // Takes interleaved stereo frames and encodes them on the grid; returns the grid samples
    // encoded (a few frames may wait for the next call), valid until the next call. Throws
    // RenderError naming the target when writing fails.
    std::span<const float> add(const float* stereo, std::size_t frames);
    // Encodes what was held back and what LAME still buffers, puts the header frame in place and
    // completes the file where it is written; returns the grid samples of what was held back.
    std::span<const float> finish();
    // Where the file is written, to be read back once finished.
    const std::filesystem::path& written() const { return output_.written(); }
    // Whether the file is written to its target directly (a device or a pipe), and so can
    // neither be read back nor taken again.
    bool direct() const { return output_.direct(); }
    // Puts the finished file at its target; throws RenderError when that fails.
    void commit();
    // Drops the file.
    void discard();
    const encoder::Mp3Stream& stream() const { return stream_; }

private:
    void write(std::span<const std::uint8_t> bytes);
    std::span<const float> encode(std::span<const float> samples);
    [[noreturn]] void failed() const;

    encoder::Mp3Stream stream_;
    Pcm16Grid grid_;
    encoder::Mp3Output output_;
    bool finished_ = false;
};

} // namespace quillory::renderer
