// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The hidden files that outputs are written into beside their targets, named
// ".<target name>.<process id>-<n>@<host>.part": the name says which process on which machine
// writes it, so that the files a killed process left behind can be told from those still being
// written, and removed. Each file is also locked by its writer for as long as it lives, which
// tells a running writer that this machine cannot see by its id (one in another container)
// from a dead one; this process knows its own files, and removes a leftover of an earlier
// process that had its id. The target's name is cut as far as needed for the whole name to fit the
// folder's longest file name. A stem folder being written is such a hidden folder, and a folder
// set aside until its replacement is in place bears such a name too.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace quillory::output {

struct PartOwner {
    long pid = 0;
    std::string host;
    bool operator==(const PartOwner&) const = default;
};

// This process on this machine.
const PartOwner& thisProcess();

// The hidden name of owner's n-th file for targetName, at most nameMax bytes long.
std::string partName(const std::string& targetName, const PartOwner& owner, unsigned n,
                     std::size_t nameMax);
// Whose file a name made by partName is; nothing for any other name.
std::optional<PartOwner> partOwner(const std::string& name);
// "." + targetName + tail, the target's name cut (never within a character) to fit nameMax.
std::string hiddenName(const std::string& targetName, const std::string& tail, std::size_t nameMax);
// Whether what owner made under this name was left behind: by a process of this machine that
// ended, or by an earlier process with this one's id. Never for another machine's.
bool leftBehind(const PartOwner& owner, const std::string& name);

struct Part {
    std::filesystem::path path;
    int fd = -1; // open for reading and writing, locked; -1 (errno set) when not created
};
// Creates and locks a new hidden file of this process beside target, with the given mode.
Part createPart(const std::filesystem::path& target, unsigned mode);
// The same for a hidden folder (fd holds only its lock).
Part createPartFolder(const std::filesystem::path& target);
// A hidden name of this process beside target that nothing bears yet, for something to be
// renamed to.
std::filesystem::path reservePart(const std::filesystem::path& target);
// Tells that a name of this process's is now its own (holdPart), or no longer: renamed into
// place or removed (releasePart). createPart and reservePart hold their names already.
void holdPart(const std::filesystem::path& part);
void releasePart(const std::filesystem::path& part);

// Removes the hidden files and folders in folder that processes of this machine left when they
// ended without tidying up, after settling the claims they left (Claim.h): their renames are
// completed or undone first. Files of other machines, files still being written, and every other
// file stay.
void sweepParts(const std::filesystem::path& folder);

} // namespace quillory::output
