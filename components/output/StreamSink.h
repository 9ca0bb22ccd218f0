// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A sound file written to a stream (standard output, a pipe), which cannot be rewound. libsndfile
// writes a file's header first and fills in its lengths at the end, seeking back; on a pipe it
// refuses WAV outright, and FLAC's late fields land after the last frame as junk. So libsndfile
// writes through this sink instead, as if to a file it may seek in, and the sink decides what
// reaches the stream:
//   - WAV: the header is held back until the audio begins. With the frame count known by then
//     (expectFrames), the RIFF and data sizes (and a float WAV's frame count in its fact chunk)
//     are filled in exactly, and the header libsndfile
//     writes again when it closes must then match what went out, byte for byte. Without it, both
//     sizes are 0xFFFFFFFF, the streaming size that readers take as "up to the end" (as ffmpeg
//     writes to a pipe), and the header written at the close is dropped.
//   - FLAC: the frame sizes, length and MD5 signature that libFLAC puts into STREAMINFO once it
//     ends are dropped; left at zero, they say "unknown", as the flac tool's own stream does.
//   - Ogg Vorbis and Opus are written in order anyway.
// Anything else written behind what the stream has taken is a failure, never silent damage.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillory::output {

class StreamSink {
public:
    enum class Kind { Wav, Flac, Ogg };
    // A RIFF size field holds at most this; a bigger WAV is sent with the streaming size.
    static constexpr std::uint32_t kStreamingSize = 0xFFFFFFFFu;

    // Writes to fd, which it closes. frameBytes: the bytes of a WAV's frame.
    StreamSink(int fd, Kind kind, int frameBytes);
    ~StreamSink();
    StreamSink(const StreamSink&) = delete;
    StreamSink& operator=(const StreamSink&) = delete;

    // The frames the WAV will hold, before its audio begins.
    void expectFrames(std::uint64_t frames) { expected_ = frames; }
    // Why the stream failed (a write refused, libsndfile writing where it cannot go), or empty.
    const std::string& failure() const { return failure_; }
    // What the stream has taken so far.
    std::uint64_t sent() const { return sent_; }

    // libsndfile's virtual I/O (SF_VIRTUAL_IO), with the sink as its user data.
    static std::int64_t length(void* self);
    static std::int64_t seek(std::int64_t offset, int whence, void* self);
    static std::int64_t read(void* out, std::int64_t count, void* self);
    static std::int64_t write(const void* bytes, std::int64_t count, void* self);
    static std::int64_t tell(void* self);

private:
    std::int64_t put(const std::uint8_t* bytes, std::int64_t count);
    bool send(const std::uint8_t* bytes, std::size_t count);
    bool rewrite(const std::uint8_t* bytes, std::size_t count);
    std::optional<std::size_t> wavDataStart() const;
    bool releaseWavHeader(std::size_t dataStart);
    std::int64_t fail(std::string why);

    int fd_;
    Kind kind_;
    int frameBytes_;
    std::optional<std::uint64_t> expected_;
    // Where libsndfile writes next, and the most it has written.
    std::uint64_t position_ = 0;
    std::uint64_t end_ = 0;
    // What the stream has taken, and the header: held back (a WAV's, until its audio begins) or
    // kept as it went out, to check what is written over it.
    std::uint64_t sent_ = 0;
    std::vector<std::uint8_t> header_;
    bool headerSent_ = false;
    bool exact_ = false;
    std::string failure_;
};

} // namespace quillory::output
