// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A file is written under a hidden temporary name beside its target and renamed into place only
// when it is complete and flushed to disk. A render, an encoding or a conversion that fails, is
// stopped, or whose process is killed then never leaves half a file under the user's name, a
// power cut never leaves an empty one, and a file it was to replace stays whole until the
// finished one takes its place. Beside the target, so that the final rename stays on one disk
// and is atomic. A target that is a symbolic link is written through: the file it points to is
// replaced, in its own folder. A replaced file's mode and group carry over. The hidden files that
// killed processes left in a folder are removed when an output is next written there (see
// PartFile.h). No Qt: the engines and the tools use it alike.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

namespace quillory::output {

// Whether committing replaces a file at the target, or leaves one that has appeared meanwhile.
enum class Existing { Replace, Keep };

// When a commit flushes the file to disk. First: before the rename, so that a power cut leaves
// the old file or the new one whole, never an empty one. Afterwards: the rename at once and the
// flush right after on a thread of its own, for a result that someone waits for (a Stop); until
// the flush ends, a power cut may leave the file short. Never: for a work file that is read once
// and deleted, which a power cut could not take anything of value from.
enum class Flush { First, Afterwards, Never };

// Moves a finished file (from) onto its target (to), for a file that goes into place together
// with others (Claim::move); std::errc::file_exists when something is in the way.
using Rename = std::function<std::error_code(const std::filesystem::path& from,
                                             const std::filesystem::path& to)>;

// The folder a file is in, "." for a bare name, which is where its temporary file and its
// claim go.
std::filesystem::path folderOf(const std::filesystem::path& file);

class OutputFile {
public:
    OutputFile() = default;
    // Implicit, so that "write this path" reads as a plain path at the call sites. Chooses the
    // temporary name; nothing is created yet.
    OutputFile(std::filesystem::path target, Existing existing = Existing::Replace);
    // A stream the process holds open (its standard output), written directly through a copy of
    // fd and never rewound: nothing is created, renamed or removed, and messages call it name.
    // fd stays open for the caller.
    static OutputFile stream(int fd, std::filesystem::path name);
    // Removes the temporary file unless it was committed.
    ~OutputFile();
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::filesystem::path& target() const { return target_; }
    Existing existing() const { return existing_; }
    // Where the data goes: the temporary file, or the target itself when that is a device, a pipe
    // or anything else but an ordinary file, which a rename would replace (/dev/null, say).
    const std::filesystem::path& writePath() const { return direct_ ? target_ : temporary_; }
    bool direct() const { return direct_; }
    // Whether this is a stream (see stream()), which the writer must never seek in.
    bool stream() const { return stream_ >= 0; }

    // Creates the empty temporary file, so that a missing or read-only folder is reported before
    // any work; empty on success, else why not. A second call does nothing.
    std::string create();
    // A descriptor to write the data through, after create(); -1 (errno set) when it cannot be
    // opened. The temporary file is opened as it is: opening it by name for writing would
    // truncate it, and ext4 takes a file truncated to empty and written again for a rewrite that
    // must not lose data, flushing it to disk when it is closed (tens of milliseconds that a Stop
    // would wait). A direct target is opened for writing as any program would.
    int open() const;
    // The same as a stream; null (errno set) when it cannot be opened.
    std::FILE* openStream() const;
    // Flushes the data written so far to disk, so that the commit has little left to wait for.
    // Empty on success, else why not.
    std::string sync() const;
    // Flushes the finished temporary file to disk and moves it onto the target, never over a file
    // that appeared meanwhile with Existing::Keep; empty on success, else why not. A rename given
    // moves it instead, and keeps to existing() itself.
    std::string commit(Flush flush = Flush::First, const Rename& rename = {});
    // Removes the temporary file; a direct target is never removed.
    void discard();

private:
    void release();

    std::filesystem::path target_;
    // Where the file goes: the target, or the file a link at the target points to.
    std::filesystem::path final_;
    std::filesystem::path temporary_;
    Existing existing_ = Existing::Replace;
    // The temporary file, held open and locked while it exists, which marks it as being written.
    int lock_ = -1;
    bool created_ = false;
    bool direct_ = false;
    // The stream's descriptor, which the caller owns; -1 for a file.
    int stream_ = -1;
};

} // namespace quillory::output
