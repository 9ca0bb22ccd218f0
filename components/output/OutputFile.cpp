// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/output/OutputFile.h"

#include "components/output/PartFile.h"
#include "platform/DiskFiles.h"
#include "platform/ShownName.h"
#include "platform/ThreadName.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace quillory::output {

namespace fs = std::filesystem;

namespace {

// The file that writing through path reaches: the end of a chain of symbolic links, each
// relative to its own folder. A chain that loops stops where it is, and the write fails there.
fs::path followLinks(fs::path path) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
        const fs::path next = fs::read_symlink(path, ec);
        if (ec)
            break;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return path;
}

// The thread owns the descriptor and closes it. One that cannot be started leaves the flush
// to the system's own writing back.
void flushInBackground(int fd, fs::path folder) {
    try {
        std::thread([fd, folder = std::move(folder)] {
            platform::NameThisThread("quillory-flush");
            platform::SyncFile(fd);
            platform::SyncFolder(folder);
            platform::CloseFile(fd);
        }).detach();
    } catch (const std::system_error&) {
        platform::CloseFile(fd);
    }
}

} // namespace

fs::path folderOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

OutputFile::OutputFile(fs::path target, Existing existing)
    : target_(std::move(target))
    , existing_(existing) {
}

OutputFile OutputFile::stream(int fd, fs::path name) {
    OutputFile output(std::move(name));
    output.stream_ = fd;
    output.direct_ = true;
    output.created_ = true;
    return output;
}

OutputFile::~OutputFile() {
    discard();
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : target_(std::move(other.target_))
    , final_(std::move(other.final_))
    , temporary_(std::exchange(other.temporary_, {}))
    , existing_(other.existing_)
    , lock_(std::exchange(other.lock_, -1))
    , created_(std::exchange(other.created_, false))
    , direct_(std::exchange(other.direct_, false))
    , stream_(std::exchange(other.stream_, -1)) {
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        discard();
        target_ = std::move(other.target_);
        final_ = std::move(other.final_);
        temporary_ = std::exchange(other.temporary_, {});
        existing_ = other.existing_;
        lock_ = std::exchange(other.lock_, -1);
        created_ = std::exchange(other.created_, false);
        direct_ = std::exchange(other.direct_, false);
        stream_ = std::exchange(other.stream_, -1);
    }
    return *this;
}

std::string OutputFile::create() {
    if (created_)
        return {};
    std::error_code ec;
    const fs::file_status status = fs::status(target_, ec);
    if (fs::is_directory(status))
        return platform::Quoted(target_) + " is a folder";
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        direct_ = true;
        created_ = true;
        return {};
    }
    final_ = followLinks(target_);
    const fs::path folder = folderOf(final_);
    if (!fs::is_directory(folder, ec))
        return "the folder " + platform::Quoted(folder) + " does not exist";
    if (const std::size_t most = platform::NameMax(folder);
        final_.filename().string().size() > most)
        return "the name of " + platform::Quoted(target_) +
               " is too long: the folder takes names of at most " + std::to_string(most) + " bytes";
    sweepParts(folder);
    // While it is written, a file that replaces another is readable by its owner only; the old
    // file's own mode comes with the commit.
    const Part part = createPart(final_, fs::exists(status) ? 0600 : 0666);
    if (part.fd < 0)
        return "cannot write in the folder " + platform::Quoted(folder) + ": " +
               std::strerror(errno);
    temporary_ = part.path;
    lock_ = part.fd;
    created_ = true;
    return {};
}

int OutputFile::open() const {
    if (!created_) {
        errno = ENOENT;
        return -1;
    }
    if (stream_ >= 0)
        return ::fcntl(stream_, F_DUPFD_CLOEXEC, 0);
    if (direct_)
        return ::open(target_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return ::open(temporary_.c_str(), O_RDWR | O_CLOEXEC);
}

std::string OutputFile::sync() const {
    if (!created_ || direct_)
        return {};
    if (const std::error_code flushed = platform::SyncFile(lock_))
        return "cannot write " + platform::Quoted(target_) + " to the disk: " + flushed.message();
    return {};
}

std::string OutputFile::commit(Flush flush, const Rename& rename) {
    if (!created_)
        return "nothing was written for " + platform::Quoted(target_);
    if (direct_)
        return {};
    std::error_code ec;
    if (existing_ == Existing::Replace && fs::is_regular_file(final_, ec))
        platform::AdoptModeAndGroup(lock_, final_);
    // Renamed before its data reached the disk, a power cut could leave an empty file in place of
    // the old one.
    if (flush == Flush::First)
        if (const std::string failed = sync(); !failed.empty())
            return failed;
    if (rename)
        ec = rename(temporary_, final_);
    else if (existing_ == Existing::Keep)
        ec = platform::RenameNoReplace(temporary_, final_);
    else
        fs::rename(temporary_, final_, ec);
    if (ec == std::errc::file_exists && existing_ == Existing::Keep)
        return platform::Quoted(target_) + " appeared meanwhile and was left as it is";
    if (ec)
        return "cannot move the result to " + platform::Quoted(target_) + ": " + ec.message();
    releasePart(std::exchange(temporary_, {}));
    if (flush == Flush::Afterwards)
        flushInBackground(std::exchange(lock_, -1), folderOf(final_));
    else if (flush == Flush::First)
        platform::SyncFolder(folderOf(final_));
    release();
    return {};
}

void OutputFile::discard() {
    if (!created_)
        return;
    if (!direct_) {
        std::error_code ec;
        fs::remove(temporary_, ec);
        releasePart(std::exchange(temporary_, {}));
    }
    release();
}

void OutputFile::release() {
    platform::CloseFile(std::exchange(lock_, -1));
    created_ = false;
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
