// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The song's synthesised audio, kept in 32-bit float between the two passes of a loudness-
// levelled render: the first pass writes it block by block while the meter listens, the output
// pass reads it back block by block, applies the one gain and writes the chosen format. So the
// song is synthesised once, and nothing is lost to clipping or rounding before the gain is known.
//
// The file is raw interleaved stereo float32 in the machine's own byte order, without a header:
// it is private to this process, lives only for one render and is read back on the same machine.
// A WAV container would add nothing but a size limit (4 GiB, which a long song at a high rate
// passes) and a conversion layer; the frame count is kept here, not in the file.
//
// Room for the whole song is reserved on the disk (fallocate) when the file is made, so songs
// rendered side by side never count the same free bytes twice: the second finds the first's room
// gone, and is told so before it begins. Every work file of the process is made under one lock,
// and where the file system cannot reserve, the room promised to the others is counted against
// what it reports free. Should the disk fill up all the same, the file stops growing and keeps
// what it could not write in memory (full() then says so), and the caller goes on without it.
#pragma once

#include "components/output/SoundWriter.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quillory::renderer {

// A failure of the work file itself (a missing work folder, say), as opposed to the target's.
class WorkFileError : public RenderError {
public:
    using RenderError::RenderError;
};

// The work folder has no room for the work file.
class WorkRoomError : public WorkFileError {
public:
    using WorkFileError::WorkFileError;
};

// A size in whole MiB, rounded up, as the messages about room for a song give it.
std::string megabytes(std::uint64_t bytes);

class FloatIntermediate {
public:
    static constexpr std::uint64_t kFrameBytes = 2 * sizeof(float);
    // Asked under the lock that every work file of the process is made under, with the bytes
    // the process's other work files on the same file system may still take beyond what that
    // file system counts as used: why there is no room for this one, or an empty string.
    using RoomCheck = std::function<std::string(std::uint64_t promisedBytes)>;

    // Creates a new file of its own in folder (an instance's private work folder), with room for
    // maxFrames reserved. Throws WorkRoomError when the check refuses or the disk has no room
    // for them, and WorkFileError naming the file for any other failure.
    explicit FloatIntermediate(const std::filesystem::path& folder, std::uint64_t maxFrames = 0,
                               const RoomCheck& check = {});
    // Closes and removes the file.
    ~FloatIntermediate();
    FloatIntermediate(const FloatIntermediate&) = delete;
    FloatIntermediate& operator=(const FloatIntermediate&) = delete;

    // Appends frames. A full disk does not throw: see full(). Throws naming the file on any other
    // failure to write; only before rewind().
    void write(const float* left, const float* right, std::size_t frames);
    // The same for frames given as interleaved stereo.
    void writeInterleaved(const float* stereo, std::size_t frames);
    // Whether the disk ran out of room: the frames written from then on are kept in memory, and
    // the writer should stop. roomProblem() says what the disk said, naming the file.
    bool full() const { return !roomProblem_.empty(); }
    const std::string& roomProblem() const { return roomProblem_; }
    // Ends writing (throws when the last frames cannot be written) and starts reading from the
    // first frame; may be called again to read everything once more.
    void rewind() { seek(0); }
    // Ends writing like rewind(), and goes on reading from the given frame (at most frames()).
    void seek(std::uint64_t frame);
    // Reads up to maxFrames of the next frames; returns how many, 0 at the end. Throws naming
    // the file when it cannot be read or holds fewer frames than were written.
    std::size_t read(float* left, float* right, std::size_t maxFrames);

    // Reads up to maxFrames from `frame` on as interleaved stereo, without moving where read()
    // goes on; returns how many. Once writing has ended (rewind or seek), another thread may call
    // it beside read().
    std::size_t readInterleavedAt(std::uint64_t frame, float* stereo, std::size_t maxFrames) const;
    std::uint64_t frames() const { return frames_; }
    const std::filesystem::path& path() const { return path_; }
    // Whether the disk holds room for every frame (false where the file system cannot reserve).
    bool reserved() const { return reserved_; }
    // The bytes this file may still take that its file system does not yet count as used.
    std::uint64_t promisedBytes() const;

    // Removes the files of every work file of the process at once, for a program that must end
    // without waiting for its renders; they cannot be used any more.
    static void removeAll();

private:
    void create(const std::filesystem::path& folder);
    void reserve(std::uint64_t maxFrames, const std::filesystem::path& folder);
    void flush();
    void readBytes(std::uint64_t offset, char* to, std::size_t bytes) const;
    [[noreturn]] void fail(const char* doing, int error) const;

    std::filesystem::path path_;
    int fd_ = -1;
    std::uint64_t device_ = 0;
    std::uint64_t reservedBytes_ = 0;
    bool reserved_ = false;
    // Bytes appended but not yet on disk: the write buffer, and after a full disk, everything
    // that did not fit.
    std::vector<char> pending_;
    std::uint64_t bytesOnDisk_ = 0;
    std::string roomProblem_;
    std::vector<float> interleaved_;
    std::uint64_t frames_ = 0;
    std::uint64_t framesRead_ = 0;
    bool reading_ = false;
};

} // namespace quillory::renderer
