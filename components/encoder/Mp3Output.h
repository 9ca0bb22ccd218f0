// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// An MP3 file as an Mp3Stream's bytes go into it: the stream's ID3v2 tag first, then the encoded
// frames in order, and at the end the Xing/LAME header frame put back over the first frame of the
// audio, right after the tag, where players look for the length. A target that cannot be rewound
// (a device, a pipe, standard output) keeps the placeholder frame. The file is written beside its
// target and put there by commit(); until then, closing or dropping it leaves nothing behind.
//
// Every MP3 this program writes goes through it: a WAV encoded (Mp3FileEncoder) and a song's
// take (Mp3Take). Each says in its own words what failed, so a failure is given as the step that
// failed and the reason.
#pragma once

#include "components/encoder/Mp3Stream.h"
#include "components/output/OutputFile.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>

namespace encoder {

class Mp3Output {
public:
    enum class Step { Create, Write, Rewind };
    struct Failure {
        Step step = Step::Write;
        std::string reason; // the file system's words
    };

    Mp3Output() = default;
    // Closes the file; an uncommitted one is removed with its OutputFile.
    ~Mp3Output();
    Mp3Output(const Mp3Output&) = delete;
    Mp3Output& operator=(const Mp3Output&) = delete;

    // Creates the file and writes the stream's tag; false when either fails (failure() says why,
    // and nothing is left behind).
    bool open(quillory::output::OutputFile file, const Mp3Stream& stream);
    bool isOpen() const { return file_ != nullptr; }
    bool write(std::span<const std::uint8_t> bytes);
    // Puts the stream's header frame in place where the file can be rewound, and closes the
    // file; it is then complete where it is written.
    bool close(const Mp3Stream& stream);
    // Puts the closed file at its target; empty on success, else why not.
    std::string commit() { return output_.commit(); }
    // Closes and removes the file; a direct target is never removed.
    void discard();

    const Failure& failure() const { return failure_; }
    const std::filesystem::path& target() const { return output_.target(); }
    const std::filesystem::path& written() const { return output_.writePath(); }
    // Whether the file is its target itself (a device or a pipe), which cannot be read back.
    bool direct() const { return output_.direct(); }

private:
    bool fail(Step step, int error);
    void closeFile();

    quillory::output::OutputFile output_;
    std::FILE* file_ = nullptr;
    bool seekable_ = false;
    Failure failure_;
};

} // namespace encoder
