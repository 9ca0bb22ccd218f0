// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/output/Claim.h"

#include "components/output/OutputFile.h"
#include "platform/DiskFiles.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>
#include <utility>

namespace quillory::output {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeader = "quillory claim ";
constexpr std::string_view kSuffix = ".claim";
// How long a claimant waits for another process to settle an ended process's claim, which takes
// a few renames; a claim that stays locked longer is held by a process this machine cannot see
// (one in another container).
constexpr int kSettleWaits = 300;
constexpr auto kSettleWait = std::chrono::milliseconds(10);
// A claim holds its owner and the journal of a few renames; a larger file is no claim of ours.
constexpr std::size_t kMostClaimBytes = 1 << 16;

std::string headerOf(const PartOwner& owner) {
    return std::string(kHeader) + std::to_string(owner.pid) + "@" + owner.host + "\n";
}

// The owner named by a claim file's first line, and where its journal starts.
std::optional<std::pair<PartOwner, std::size_t>> readHeader(std::string_view content) {
    const std::size_t end = content.find('\n');
    if (!content.starts_with(kHeader) || end == std::string_view::npos)
        return std::nullopt;
    const std::string_view text = content.substr(kHeader.size(), end - kHeader.size());
    const std::size_t at = text.find('@');
    PartOwner owner;
    if (at == std::string_view::npos || at + 1 == text.size() ||
        std::from_chars(text.data(), text.data() + at, owner.pid).ptr != text.data() + at)
        return std::nullopt;
    owner.host = std::string(text.substr(at + 1));
    return std::pair{owner, end + 1};
}

std::string describe(const PartOwner& owner) {
    return "process " + std::to_string(owner.pid) + " on " +
           (owner.host == thisProcess().host ? std::string("this machine") : owner.host);
}

// So that two long names cut to the same beginning keep claims of their own.
std::string nameHash(const std::string& name) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char text[24];
    std::snprintf(text, sizeof text, ".%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// settleClaim on the claim file open as fd.
ClaimState settleOpenClaim(int fd, const fs::path& path) {
    using Kind = ClaimState::Kind;
    const platform::Lock lock = platform::TryLock(fd);
    const std::string content = platform::ReadWhole(fd, kMostClaimBytes);
    const auto header = readHeader(content);
    if (!header)
        return {Kind::Foreign};
    const PartOwner& owner = header->first;
    const bool ended = leftBehind(owner, path.filename().string());
    if (lock == platform::Lock::HeldElsewhere)
        return {ended ? Kind::Ended : Kind::Live, owner};
    if (!platform::StillNamed(fd, path))
        return {Kind::Gone};
    if (!ended)
        return {Kind::Live, owner};
    const auto journal =
        decodeJournal(std::string_view(content).substr(header->second), path.parent_path());
    if (const Settled settled = journal ? settleJournal(*journal) : Settled{};
        settled.error && !settled.undone)
        return {Kind::Ended, owner,
                "the renames that " + describe(owner) +
                    " left half made could be neither completed nor undone: " +
                    settled.error.message()};
    std::error_code ignored;
    fs::remove(path, ignored);
    return {Kind::Gone};
}

} // namespace

fs::path claimPath(const fs::path& target) {
    const std::string name = target.filename().string();
    const std::size_t most = platform::NameMax(folderOf(target));
    const std::string tail(kSuffix);
    const bool fits = 1 + name.size() + tail.size() <= most;
    return target.parent_path() / hiddenName(name, fits ? tail : nameHash(name) + tail, most);
}

bool isClaimName(const std::string& name) {
    return name.size() > 1 + kSuffix.size() && name[0] == '.' && name.ends_with(kSuffix);
}

ClaimState settleClaim(const fs::path& path) {
    const int fd = platform::OpenForReading(path);
    if (fd < 0)
        return {errno == ENOENT ? ClaimState::Kind::Gone : ClaimState::Kind::Foreign};
    const ClaimState state = settleOpenClaim(fd, path);
    platform::CloseFile(fd);
    return state;
}

Claim Claim::take(const fs::path& target) {
    Claim claim;
    claim.path_ = claimPath(target);
    const std::string header = headerOf(thisProcess());
    for (int waits = 0;;) {
        Part part = createPart(target, 0644);
        if (part.fd < 0) {
            claim.why_ = "cannot claim \"" + target.string() + "\": " + std::strerror(errno);
            return claim;
        }
        holdPart(claim.path_);
        std::error_code ec = platform::RewriteFrom(part.fd, 0, header);
        if (!ec)
            ec = platform::RenameNoReplace(part.path, claim.path_);
        releasePart(part.path);
        if (!ec) {
            claim.fd_ = part.fd;
            claim.header_ = header.size();
            claim.status_ = Status::Held;
            return claim;
        }
        releasePart(claim.path_);
        std::error_code ignored;
        fs::remove(part.path, ignored);
        platform::CloseFile(part.fd);
        if (ec != std::errc::file_exists) {
            claim.why_ = "cannot claim \"" + target.string() + "\": " + ec.message();
            return claim;
        }
        const ClaimState state = settleClaim(claim.path_);
        if (state.kind == ClaimState::Kind::Gone)
            continue;
        if (state.kind == ClaimState::Kind::Foreign) {
            claim.why_ = "cannot claim \"" + target.string() + "\": \"" + claim.path_.string() +
                         "\" is in the way";
        } else if (!state.error.empty()) {
            claim.why_ = state.error;
        } else if (state.kind == ClaimState::Kind::Ended && ++waits < kSettleWaits) {
            std::this_thread::sleep_for(kSettleWait);
            continue;
        } else {
            claim.status_ = Status::Busy;
            claim.why_ = describe(*state.owner);
        }
        return claim;
    }
}

Claim::~Claim() {
    release();
}

Claim::Claim(Claim&& other) noexcept
    : path_(std::move(other.path_))
    , fd_(std::exchange(other.fd_, -1))
    , header_(other.header_)
    , journalOpen_(std::exchange(other.journalOpen_, false))
    , status_(std::exchange(other.status_, Status::Failed))
    , why_(std::move(other.why_)) {
}

Claim& Claim::operator=(Claim&& other) noexcept {
    if (this != &other) {
        release();
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        header_ = other.header_;
        journalOpen_ = std::exchange(other.journalOpen_, false);
        status_ = std::exchange(other.status_, Status::Failed);
        why_ = std::move(other.why_);
    }
    return *this;
}

std::error_code Claim::move(Journal journal) {
    if (!held())
        return std::make_error_code(std::errc::operation_not_permitted);
    std::set<fs::path> folders{folderOf(path_)};
    for (Move& move : journal) {
        if ((move.id = platform::FileNumber(move.from)) == 0)
            return std::make_error_code(std::errc::no_such_file_or_directory);
        folders.insert(folderOf(move.from));
        folders.insert(folderOf(move.to));
    }
    // The journal reaches the disk, with the claim's own name, before the first move; the moves
    // reach it before the journal is dropped.
    std::error_code ec =
        platform::RewriteFrom(fd_, header_, encodeJournal(journal, path_.parent_path()));
    if (!ec)
        ec = platform::SyncFile(fd_);
    if (ec) {
        platform::RewriteFrom(fd_, header_, {});
        return ec;
    }
    platform::SyncFolder(folderOf(path_));
    journalOpen_ = true;
    const Settled settled = settleJournal(journal);
    for (const fs::path& folder : folders)
        platform::SyncFolder(folder);
    if (!settled.error || settled.undone)
        journalOpen_ = bool(platform::RewriteFrom(fd_, header_, {}));
    return settled.error;
}

void Claim::release() {
    if (fd_ < 0)
        return;
    if (!journalOpen_ && platform::StillNamed(fd_, path_)) {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
    releasePart(path_);
    platform::CloseFile(std::exchange(fd_, -1));
    status_ = Status::Failed;
}

} // namespace quillory::output
