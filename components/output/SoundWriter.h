// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Writes rendered audio through libsndfile, in every format the converter offers: WAV (8-bit
// unsigned, as WAV requires, 16 or 24-bit PCM, or 32-bit float), FLAC (16 or 24-bit), Ogg Vorbis
// and Ogg Opus. Mono is an average of the two synth channels, taken before quantising. Integer
// PCM is reduced from float with TPDF dither (DitherQuantizer), never by plain rounding; float and
// the lossy formats take the samples as they are. A plain PCM WAV whenever the result fits one; a
// render that might pass 4 GiB is written as RF64, which can describe it. The file appears at its
// target only when it is closed: until then it is written beside it. A stream (standard output)
// is written through a StreamSink, which cannot be rewound: always a plain WAV, whose sizes are
// exact when expectFrames() says the length before the audio begins. Title, copyright and
// software go into the file's own tags: a WAV's LIST/INFO chunk (INAM, ICOP, ISFT), the Vorbis
// comments of FLAC, Vorbis and Opus (TITLE, COPYRIGHT, SOFTWARE; libsndfile names itself as the
// ENCODER of an Ogg stream).
#pragma once

#include "components/audio/Dither.h"
#include "components/midi/TagText.h"
#include "components/output/OutputFile.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sf_private_tag;
struct SF_INFO;

namespace quillory::output {
class StreamSink;
}

namespace quillory::renderer {

class RenderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Container { Wav, Flac, Vorbis, Opus };

struct SoundFormat {
    // Opus has no other rate; the caller synthesises at it.
    static constexpr int kOpusRate = 48000;
    // 32 bits per sample is 32-bit float.
    static constexpr int kFloatBits = 32;

    int sampleRate = 44100;
    // WAV: 8, 16, 24 or 32 (float); FLAC: 16 or 24; ignored by Vorbis and Opus, which take float.
    int bitsPerSample = 16;
    int channels = 2;
    Container container = Container::Wav;
    int vorbisQuality = 6; // 0 to 10, as oggenc counts
    int opusKbps = 128;    // the stream's bit rate, 6 to 256 kb/s a channel
    // Off only for samples that already lie on the output's steps (a WAV copied losslessly).
    bool dither = true;

    // Empty when the format can be written, otherwise the reason it cannot.
    std::string problem() const;
    // Whether samples are stored as integers, and so dithered.
    bool integerPcm() const;
    // The most bytes a frame can take in the file, for the room a render needs.
    std::uint64_t bytesPerFrame() const;
    // ".wav", ".flac", ".ogg" or ".opus".
    std::string extension() const;
};

// libsndfile's version, as the library in use reports it ("libsndfile-1.2.0").
std::string soundFileVersion();

class SoundWriter {
public:
    // Starts the file for at most maxFrames frames; throws RenderError naming the target when it
    // cannot. A file already at the target stays until close() replaces it. ditherSeed: the
    // noise of files that are added up (a song's stems) must not repeat from file to file.
    SoundWriter(output::OutputFile target, const SoundFormat& format, std::uint64_t maxFrames,
                std::uint64_t ditherSeed = DitherQuantizer::kDefaultSeed);
    // A writer that was not closed leaves the target as it was.
    ~SoundWriter();
    SoundWriter(const SoundWriter&) = delete;
    SoundWriter& operator=(const SoundWriter&) = delete;

    // Puts the non-empty texts (cleaned again with cleanTagText) into the file's tags;
    // libsndfile appends its own name and version to the software text of a WAV or a FLAC
    // ("... (libsndfile-1.2.0)"). Only before the first write: throws std::logic_error after it;
    // the first write throws RenderError when libsndfile refuses a text. A file closed without
    // audio has no texts.
    void setTags(const tags::TextTags& tags);
    // The frames the file will hold in all, when they are known before the first write: a WAV
    // written to a stream then carries its true length from its first byte, and a stream that
    // gets fewer or more fails at the close. A file gets its true length at the close anyway
    // (a render stopped early is shorter).
    void expectFrames(std::uint64_t frames);
    // Throws RenderError when the data cannot be written (a full disk, for example). Integer
    // samples beyond full scale are clipped.
    void write(const float* left, const float* right, std::size_t frames);
    // The same for frames given as interleaved stereo.
    void writeInterleaved(const float* stereo, std::size_t frames);
    // Flushes what was written so far to disk, so that close() has little left to wait for;
    // throws RenderError when that fails.
    void sync();
    // Completes the file where it is written, without putting it at its target yet, so that it
    // can be read back (a lossy file is judged as decoded); close() then puts it there. Throws
    // RenderError when that fails.
    void finish();
    // Where the file is written: beside its target, or the target itself when that is a device
    // or a pipe (direct), which cannot be read back.
    const std::filesystem::path& written() const { return output_.writePath(); }
    bool direct() const { return output_.direct(); }
    // Completes the file and moves it onto the target (with rename, when given: see
    // OutputFile::commit); throws RenderError when that fails.
    void close(output::Flush flush = output::Flush::First, const output::Rename& rename = {});
    // Drops what was written, for a render that failed or was cancelled.
    void discard();
    std::uint64_t framesWritten() const { return frames_; }
    bool rf64() const { return rf64_; }
    // Samples that met full scale so far.
    std::uint64_t clipped() const { return quantizer_.clipped(); }
    // The largest sample written so far, as it was given (before quantising).
    float peak() const { return peak_; }
    const std::filesystem::path& target() const { return path_; }

private:
    void open(int fd, SF_INFO& info);
    void configure();
    void writeTags();
    std::string why() const;
    void writeSamples(const float* samples, std::size_t frames);

    output::OutputFile output_;
    std::filesystem::path path_; // the target, as messages name it
    SoundFormat format_;
    sf_private_tag* file_ = nullptr;
    std::unique_ptr<output::StreamSink> stream_;
    std::optional<std::uint64_t> expected_;
    tags::TextTags tags_;
    DitherQuantizer quantizer_;
    std::vector<float> interleaved_;
    std::vector<std::int16_t> shorts_;
    std::vector<std::int32_t> ints_;
    std::uint64_t frames_ = 0;
    float peak_ = 0;
    bool rf64_ = false;
    bool finished_ = false; // complete, not yet at the target
};

} // namespace quillory::renderer
