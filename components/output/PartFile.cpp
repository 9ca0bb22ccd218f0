// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/output/PartFile.h"

#include "components/output/Claim.h"
#include "platform/DiskFiles.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace quillory::output {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSuffix = ".part";
// Host names are at most 64 bytes; a longer one is cut, the same way wherever it is compared.
constexpr std::size_t kMaxHost = 64;

// Only what a host name may hold, so that "@" and "/" never come from it.
std::string cleanHost(const std::string& host) {
    std::string clean = host.substr(0, kMaxHost);
    for (char& c : clean) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
            c = '_';
    }
    return clean;
}

// At most size bytes of text, never half a UTF-8 character.
std::string utf8Prefix(const std::string& text, std::size_t size) {
    if (text.size() <= size)
        return text;
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80)
        --size;
    return text.substr(0, size);
}

bool allDigits(std::string_view text) {
    return !text.empty() && text.size() <= 10 && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
}

// The names of the files this process holds now, which tell them from leftovers of an earlier
// process with the same id, whatever the file system makes of locks. With the mutex that guards
// them. Claims of two folders may share a name, so a name counts as often as it is held.
std::mutex& ownPartsMutex() {
    static std::mutex mutex;
    return mutex;
}
std::multiset<std::string>& heldParts() {
    static std::multiset<std::string> names;
    return names;
}

std::atomic<unsigned> partCounter{0};

// The next hidden name of this process beside target; with ownPartsMutex held.
fs::path nextPartName(const fs::path& target) {
    const fs::path folder = target.parent_path();
    return folder / partName(target.filename().string(), thisProcess(), partCounter++,
                             platform::NameMax(folder));
}

// Creates a hidden thing of this process beside target with make, which returns a descriptor
// (-1 with errno set), and holds its name.
template <typename Make>
Part makePart(const fs::path& target, Make make) {
    const std::lock_guard lock(ownPartsMutex());
    for (;;) {
        Part part;
        part.path = nextPartName(target);
        part.fd = make(part.path);
        if (part.fd >= 0)
            heldParts().insert(part.path.filename().string());
        if (part.fd >= 0 || errno != EEXIST)
            return part;
    }
}

struct Entry {
    std::string name;
    bool folder = false;
};

std::vector<Entry> entriesOf(const fs::path& folder) {
    std::vector<Entry> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code type;
        entries.push_back(
            {it->path().filename().string(), it->is_directory(type) && !it->is_symlink(type)});
    }
    return entries;
}

// Settles the claims in the folder; true when one went, which may have put hidden files back.
// The parts of an ended process whose claim stays (another process settles it right now, or
// its renames could not be settled) are left with it.
bool settleClaims(const fs::path& folder, const std::vector<Entry>& entries,
                  std::set<std::pair<long, std::string>>& keep) {
    bool gone = false;
    for (const Entry& entry : entries) {
        if (!isClaimName(entry.name))
            continue;
        const ClaimState state = settleClaim(folder / entry.name);
        gone = gone || state.kind == ClaimState::Kind::Gone;
        if (state.kind == ClaimState::Kind::Ended && state.owner)
            keep.emplace(state.owner->pid, state.owner->host);
    }
    return gone;
}

} // namespace

const PartOwner& thisProcess() {
    static const PartOwner me{platform::ProcessId(), cleanHost(platform::HostName())};
    return me;
}

std::string hiddenName(const std::string& targetName, const std::string& tail,
                       std::size_t nameMax) {
    const std::size_t room = nameMax > tail.size() + 1 ? nameMax - tail.size() - 1 : 0;
    return "." + utf8Prefix(targetName, room) + tail;
}

std::string partName(const std::string& targetName, const PartOwner& owner, unsigned n,
                     std::size_t nameMax) {
    return hiddenName(targetName,
                      "." + std::to_string(owner.pid) + "-" + std::to_string(n) + "@" + owner.host +
                          std::string(kSuffix),
                      nameMax);
}

std::optional<PartOwner> partOwner(const std::string& name) {
    if (name.size() <= 1 + kSuffix.size() || name[0] != '.' || !name.ends_with(kSuffix))
        return std::nullopt;
    const std::string_view core(name.data() + 1, name.size() - 1 - kSuffix.size());
    const std::size_t at = core.rfind('@');
    if (at == std::string_view::npos || at + 1 == core.size())
        return std::nullopt;
    const std::string_view host = core.substr(at + 1);
    const std::string_view before = core.substr(0, at);
    const std::size_t dot = before.rfind('.');
    if (dot == std::string_view::npos)
        return std::nullopt;
    const std::string_view id = before.substr(dot + 1);
    const std::size_t dash = id.find('-');
    if (dash == std::string_view::npos || !allDigits(id.substr(0, dash)) ||
        !allDigits(id.substr(dash + 1)))
        return std::nullopt;
    return PartOwner{std::stol(std::string(id.substr(0, dash))), std::string(host)};
}

bool leftBehind(const PartOwner& owner, const std::string& name) {
    if (owner.host != thisProcess().host)
        return false;
    if (owner.pid != thisProcess().pid)
        return !platform::ProcessRuns(owner.pid);
    const std::lock_guard lock(ownPartsMutex());
    return !heldParts().contains(name);
}

Part createPart(const fs::path& target, unsigned mode) {
    return makePart(
        target, [mode](const fs::path& path) { return platform::CreateLockedFile(path, mode); });
}

Part createPartFolder(const fs::path& target) {
    return makePart(target,
                    [](const fs::path& path) { return platform::CreateLockedFolder(path, 0777); });
}

fs::path reservePart(const fs::path& target) {
    const std::lock_guard lock(ownPartsMutex());
    for (;;) {
        fs::path path = nextPartName(target);
        if (platform::FileNumber(path) == 0) {
            heldParts().insert(path.filename().string());
            return path;
        }
    }
}

void holdPart(const fs::path& part) {
    const std::lock_guard lock(ownPartsMutex());
    heldParts().insert(part.filename().string());
}

void releasePart(const fs::path& part) {
    const std::lock_guard lock(ownPartsMutex());
    const auto held = heldParts().find(part.filename().string());
    if (held != heldParts().end())
        heldParts().erase(held);
}

void sweepParts(const fs::path& folder) {
    const fs::path where = folder.empty() ? fs::path(".") : folder;
    std::vector<Entry> entries = entriesOf(where);
    std::set<std::pair<long, std::string>> keep;
    if (settleClaims(where, entries, keep))
        entries = entriesOf(where);
    for (const Entry& entry : entries) {
        const std::optional<PartOwner> owner = partOwner(entry.name);
        if (!owner || keep.contains({owner->pid, owner->host}) || !leftBehind(*owner, entry.name))
            continue;
        if (entry.folder)
            platform::RemoveUnlockedFolder(where / entry.name);
        else
            platform::RemoveUnlockedFile(where / entry.name);
    }
}

} // namespace quillory::output
