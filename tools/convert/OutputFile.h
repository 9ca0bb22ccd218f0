// An output is written under a temporary name beside its target and renamed into place only
// when it is complete, so a failed or interrupted conversion never leaves half a file under the
// target's name, and an existing file is only ever replaced by a finished one.
#pragma once

#include <filesystem>
#include <string>

namespace convert {

class OutputFile {
public:
    OutputFile(std::filesystem::path target, bool force);
    // Removes the temporary file unless it was committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Empty when the target may be written, otherwise why not: it exists and force is off, or
    // it is a folder, a device or anything else but an ordinary file.
    std::string refusal() const;
    // Checks the target and creates the empty temporary file, so that a missing or read-only
    // folder is reported as such before any work; empty on success, else the reason.
    std::string prepare();
    // Hidden, unique, and in the target's folder, so that the final rename stays on one disk.
    const std::filesystem::path& temporary() const { return temporary_; }
    // Moves the finished temporary file onto the target; empty on success, else the reason.
    std::string commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    bool force_;
    bool committed_ = false;
};

} // namespace convert
