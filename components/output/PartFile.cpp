// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/output/PartFile.h"

#include "platform/DiskFiles.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <mutex>
#include <set>

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
// them.
std::mutex& ownPartsMutex() {
    static std::mutex mutex;
    return mutex;
}
std::set<std::string>& heldParts() {
    static std::set<std::string> names;
    return names;
}

} // namespace

const PartOwner& thisProcess() {
    static const PartOwner me{platform::ProcessId(), cleanHost(platform::HostName())};
    return me;
}

std::string partName(const std::string& targetName, const PartOwner& owner, unsigned n,
                     std::size_t nameMax) {
    const std::string tail = "." + std::to_string(owner.pid) + "-" + std::to_string(n) + "@" +
                             owner.host + std::string(kSuffix);
    const std::size_t room = nameMax > tail.size() + 1 ? nameMax - tail.size() - 1 : 0;
    return "." + utf8Prefix(targetName, room) + tail;
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

Part createPart(const fs::path& target, unsigned mode) {
    static std::atomic<unsigned> counter{0};
    const fs::path folder = target.parent_path();
    const std::size_t nameMax = platform::NameMax(folder);
    const std::lock_guard lock(ownPartsMutex());
    for (;;) {
        Part part;
        part.path =
            folder / partName(target.filename().string(), thisProcess(), counter++, nameMax);
        part.fd = platform::CreateLockedFile(part.path, mode);
        if (part.fd >= 0)
            heldParts().insert(part.path.filename().string());
        if (part.fd >= 0 || errno != EEXIST)
            return part;
    }
}

void releasePart(const fs::path& part) {
    const std::lock_guard lock(ownPartsMutex());
    heldParts().erase(part.filename().string());
}

void sweepParts(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator entries(folder.empty() ? fs::path(".") : folder, ec);
    for (; !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
        const std::optional<PartOwner> owner = partOwner(entries->path().filename().string());
        if (!owner || owner->host != thisProcess().host)
            continue;
        if (owner->pid != thisProcess().pid) {
            if (!platform::ProcessRuns(owner->pid))
                platform::RemoveUnlockedFile(entries->path());
            continue;
        }
        const std::lock_guard lock(ownPartsMutex());
        if (!heldParts().contains(entries->path().filename().string()))
            platform::RemoveUnlockedFile(entries->path());
    }
}

} // namespace quillory::output
