// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A claim on a target, so that two processes (two runs of one batch, say) never convert to the
// same file at once: the hidden file ".<name>.claim" beside the target, which says which process
// on which machine holds it ("quillory claim <process id>@<host>") and is locked by that process
// for as long as it holds it. It appears whole or not at all (written under a hidden name, then
// renamed where nothing is), and goes when the conversion ends. A claim whose process ended is
// settled as hidden files are (PartFile.h): by the next process that claims the target or writes
// into the folder; one of another machine stays.
//
// While renames that belong together are made (move()), the claim holds their journal too
// (RenameJournal.h), so that whoever settles the claim of a process killed between two of them
// completes them or undoes them.
#pragma once

#include "components/output/PartFile.h"
#include "components/output/RenameJournal.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace quillory::output {

class Claim {
public:
    enum class Status { Held, Busy, Failed };

    Claim() = default;
    // Claims target for this process, settling first a claim that an ended process left on it.
    // Busy while another process holds it; waits a moment while one settles it.
    static Claim take(const std::filesystem::path& target);
    ~Claim();
    Claim(Claim&& other) noexcept;
    Claim& operator=(Claim&& other) noexcept;
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

    Status status() const { return status_; }
    bool held() const { return status_ == Status::Held; }
    // Busy: who holds it, as people read it ("process 1234 on this machine"); Failed: why it
    // could not be taken.
    const std::string& why() const { return why_; }

    // Makes the moves as one (see RenameJournal.h): all of them, or none and why not. When even
    // undoing them fails, the journal stays in the claim file, which the folder's next sweep
    // settles after this claim is released.
    std::error_code move(Journal journal);
    void release();

private:
    std::filesystem::path path_;
    int fd_ = -1;
    std::size_t header_ = 0; // the journal starts here
    bool journalOpen_ = false;
    Status status_ = Status::Failed;
    std::string why_;
};

// The hidden claim file of target.
std::filesystem::path claimPath(const std::filesystem::path& target);
// Whether a name in a folder may be a claim file.
bool isClaimName(const std::string& name);

struct ClaimState {
    enum class Kind {
        Gone,    // none there (now): it was settled, or its holder released it
        Live,    // its process runs, or is of another machine
        Ended,   // its process ended, yet it stays: another settles it, or it could not be settled
        Foreign, // no claim this program made
    };
    ClaimState(Kind kind = Kind::Gone, std::optional<PartOwner> owner = {}, std::string error = {})
        : kind(kind)
        , owner(std::move(owner))
        , error(std::move(error)) {}

    Kind kind;
    std::optional<PartOwner> owner;
    std::string error; // Ended: why its renames could be neither completed nor undone
};
// Settles the claim file at path when its process ended: its renames are completed or undone
// (see RenameJournal.h), and it goes.
ClaimState settleClaim(const std::filesystem::path& path);

} // namespace quillory::output
