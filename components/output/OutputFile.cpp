#include "components/output/OutputFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace quillory::output {

namespace fs = std::filesystem;

namespace {

std::string quoted(const fs::path& path) {
    return "\"" + path.string() + "\"";
}

// Hidden, and unique among the processes and threads that write beside the same target.
fs::path temporaryBeside(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    std::error_code ec;
    for (;;) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x%04x.part", salt, counter++ & 0xFFFF);
        fs::path candidate = target.parent_path() / ("." + target.filename().string() + suffix);
        if (!fs::exists(fs::symlink_status(candidate, ec)))
            return candidate;
    }
}

} // namespace

OutputFile::OutputFile(fs::path target, Existing existing)
    : target_(std::move(target))
    , existing_(existing) {
}

OutputFile::~OutputFile() {
    discard();
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : target_(std::move(other.target_))
    , temporary_(std::exchange(other.temporary_, {}))
    , existing_(other.existing_)
    , created_(std::exchange(other.created_, false))
    , direct_(std::exchange(other.direct_, false)) {
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        discard();
        target_ = std::move(other.target_);
        temporary_ = std::exchange(other.temporary_, {});
        existing_ = other.existing_;
        created_ = std::exchange(other.created_, false);
        direct_ = std::exchange(other.direct_, false);
    }
    return *this;
}

std::string OutputFile::create() {
    if (created_)
        return {};
    std::error_code ec;
    const fs::file_status status = fs::status(target_, ec);
    if (fs::is_directory(status))
        return quoted(target_) + " is a folder";
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        direct_ = true;
        created_ = true;
        return {};
    }
    const fs::path folder = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
    if (!fs::is_directory(folder, ec))
        return "the folder " + quoted(folder) + " does not exist";
    temporary_ = temporaryBeside(target_);
    // "x": never opens a file that is already there, however it got there.
    std::FILE* file = std::fopen(temporary_.string().c_str(), "wbx");
    if (file == nullptr) {
        const int code = errno;
        temporary_.clear();
        return "cannot write in the folder " + quoted(folder) + ": " + std::strerror(code);
    }
    std::fclose(file);
    created_ = true;
    return {};
}

int OutputFile::open() const {
    if (!created_) {
        errno = ENOENT;
        return -1;
    }
    if (direct_)
        return ::open(target_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return ::open(temporary_.c_str(), O_RDWR | O_CLOEXEC);
}

std::string OutputFile::commit() {
    if (!created_)
        return "nothing was written for " + quoted(target_);
    if (direct_)
        return {};
    std::error_code ec;
    if (existing_ == Existing::Keep && fs::exists(fs::symlink_status(target_, ec)))
        return quoted(target_) + " appeared meanwhile and was left as it is";
    fs::rename(temporary_, target_, ec);
    if (ec)
        return "cannot move the result to " + quoted(target_) + ": " + ec.message();
    temporary_.clear();
    created_ = false;
    return {};
}

void OutputFile::discard() {
    if (!created_)
        return;
    created_ = false;
    if (direct_)
        return;
    std::error_code ec;
    fs::remove(temporary_, ec);
    temporary_.clear();
}

std::FILE* OutputFile::openStream() const {
    const int fd = open();
    if (fd < 0)
        return nullptr;
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int code = errno;
        ::close(fd);
        errno = code;
    }
    return file;
}

} // namespace quillory::output
